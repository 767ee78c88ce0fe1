// Virtual media end to end: the real viewer under Xvfb, driven with xdotool
// like a user (tool bar, drive list, file dialog, check box, buttons), maps a
// FAT disk image to the devsim program, which reads all of it and writes a
// new file's sectors back. Also: the KM messages the viewer queues at start
// reach the device, carried by the media send thread.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <thread>

#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/fat_image.h"
#include "common/screen_match.h"
#include "common/viewer_ui.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

namespace {

using clock_type = std::chrono::steady_clock;

const int k_image_kib = 16 * 1024;
const uint32_t k_image_sectors = k_image_kib * 2;
const char* const k_dialog_title = viewer_ui::k_media_dialog_title;

QString str(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString();
}

QJsonObject fields(const QJsonObject& o)
{
    return o.value(QLatin1String("fields")).toObject();
}

bool is_recv(const QJsonObject& o, const char* channel, const char* name)
{
    return str(o, "event") == QLatin1String("recv") && str(o, "channel") == QLatin1String(channel) &&
           str(fields(o), "name") == QLatin1String(name);
}

bool is_event(const QJsonObject& o, const char* channel, const char* event)
{
    return str(o, "event") == QLatin1String(event) && str(o, "channel") == QLatin1String(channel);
}

class MediaE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(x.ok()) << "Xvfb did not start";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) << "xdotool is missing";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(VIEWER_PATH), dir.path(), &viewer_exe));
        image = path("disk.img");
        pristine = path("pristine.img");
        device_copy = path("devsim-copy.img");
        events_file = path("events.jsonl");

        // A FAT disk with a few files, one of several MiB, in a sub-directory too.
        ASSERT_TRUE(make_fat_image(image, k_image_kib));
        ASSERT_TRUE(write_file(path("readme.txt"), "Virtual media test disk.\r\n"));
        ASSERT_TRUE(write_file(path("big.bin"), pattern_bytes(5 * 1024 * 1024 + 123, 1)));
        ASSERT_TRUE(write_file(path("notes.txt"), pattern_bytes(3000, 2).toHex()));
        ASSERT_TRUE(fat_put(image, path("readme.txt"), QStringLiteral("::/README.TXT")));
        ASSERT_TRUE(fat_put(image, path("big.bin"), QStringLiteral("::/BIG.BIN")));
        ASSERT_TRUE(fat_mkdir(image, QStringLiteral("::/DOCS")));
        ASSERT_TRUE(fat_put(image, path("notes.txt"), QStringLiteral("::/DOCS/NOTES.TXT")));
        ASSERT_TRUE(fat_clean(image));
        ASSERT_TRUE(QFile::copy(image, pristine));
    }

    void TearDown() override
    {
        viewer.kill();
        dev.stop();
    }

    QString path(const char* name) const { return QDir(dir.path()).filePath(QString::fromLatin1(name)); }

    void start_devsim()
    {
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                              {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                               QStringLiteral("640x480"), QStringLiteral("--fps"), QStringLiteral("10"),
                               QStringLiteral("--events"), events_file, QStringLiteral("--media-out"), device_copy},
                              dir.path()));
    }

    std::vector<QJsonObject> events() const { return read_devsim_events(events_file); }

    // Starts the viewer and waits for its main window.
    Window start_viewer()
    {
        if (!viewer.start(viewer_exe, dev.launch, QString::fromStdString(x.name())))
            return 0;
        return x.wait_window("Orvane V2.1", true, 20000);
    }

    // Waits for devsim's map event and returns it.
    QJsonObject wait_map(int timeout_ms = 20000)
    {
        QJsonObject found;
        wait_until(
            [&] {
                for (const QJsonObject& o : events())
                    if (is_event(o, "media", "map"))
                        return found = o, true;
                return false;
            },
            timeout_ms);
        return found;
    }

    bool wait_whole_read(int timeout_ms)
    {
        return wait_until(
            [&] {
                for (const QJsonObject& o : events())
                    if (is_event(o, "media", "read-done") && o.value(QLatin1String("whole")).toBool())
                        return true;
                return false;
            },
            timeout_ms);
    }

    // Puts a new file into a copy of the image and has devsim write every
    // sector that changed to the viewer's disk. Returns the changed copy.
    QString write_new_file(const QByteArray& content, int* runs_out)
    {
        const QString changed = path("changed.img");
        QFile::remove(changed);
        EXPECT_TRUE(QFile::copy(pristine, changed));
        EXPECT_TRUE(write_file(path("new.bin"), content));
        EXPECT_TRUE(fat_put(changed, path("new.bin"), QStringLiteral("::/DOCS/NEW.BIN")));
        const auto runs = changed_sector_runs(read_file(pristine), read_file(changed));
        EXPECT_GE(runs.size(), 3u) << "directory, both FATs and the data change";
        const QByteArray bytes = read_file(changed);
        int n = 0;
        for (const auto& r : runs) {
            const QString chunk = path("run") + QString::number(n++) + QStringLiteral(".bin");
            EXPECT_TRUE(write_file(chunk, bytes.mid(int(r.first) * 512, int(r.second) * 512)));
            const QString reply = dev.command(QStringLiteral("write %1 %2").arg(r.first).arg(chunk));
            EXPECT_TRUE(reply.startsWith(QStringLiteral("ok"))) << reply.toStdString();
        }
        *runs_out = n;
        return changed;
    }

    // Every write has been answered with data and the viewer has gone on to
    // its next status request, which it sends only after writing the last
    // sector of the batch.
    bool wait_writes_served(int runs, int timeout_ms)
    {
        return wait_until(
            [&] {
                int done = 0;
                bool status_after = false;
                for (const QJsonObject& o : events()) {
                    if (is_event(o, "media", "write-done")) {
                        ++done;
                        status_after = false;
                    } else if (done == runs && is_recv(o, "media", "status")) {
                        status_after = true;
                    }
                }
                return done == runs && status_after;
            },
            timeout_ms);
    }

    // Closes the dialog, then the window: the viewer ends with 0 and its
    // last media message is the unmap.
    void close_viewer(Window main, Window dialog)
    {
        ASSERT_TRUE(ui.keys(dialog, {QStringLiteral("Escape")}));
        ASSERT_TRUE(wait_until([&] { return x.find_windows(k_dialog_title).empty(); }, 10000));
        x.request_close(main);
        EXPECT_EQ(viewer.wait_exit(20000), 0) << viewer.error_output().toStdString();
        QJsonObject last;
        ASSERT_TRUE(wait_until(
            [&] {
                for (const QJsonObject& o : events())
                    if (is_event(o, "media", "disconnect"))
                        return true;
                return false;
            },
            10000));
        for (const QJsonObject& o : events())
            if (str(o, "event") == QLatin1String("recv") && str(o, "channel") == QLatin1String("media"))
                last = o;
        EXPECT_EQ(str(fields(last), "name"), QStringLiteral("unmap"));
        EXPECT_EQ(fields(last).value(QLatin1String("flags")).toInt(), 0);
    }

    QTemporaryDir dir;
    x11_display x;
    viewer_ui ui{x, QStringLiteral(KVM_SOURCE_DIR)};
    devsim_process dev;
    viewer_process viewer;
    QString viewer_exe, image, pristine, device_copy, events_file;
};

}  // namespace

TEST_F(MediaE2E, KmFirstThenMapImageReadWholeAndWriteNewFile)
{
    start_devsim();
    const Window main = start_viewer();
    ASSERT_NE(main, 0u) << viewer.error_output().toStdString();

    // The KM messages queued at start reach the device through the media
    // send thread: the user identification, then the privilege request.
    std::vector<QJsonObject> km;
    ASSERT_TRUE(wait_until(
        [&] {
            km.clear();
            for (const QJsonObject& o : events())
                if (str(o, "event") == QLatin1String("recv") && str(o, "channel") == QLatin1String("km"))
                    km.push_back(o);
            return km.size() >= 2;
        },
        20000));
    EXPECT_EQ(str(fields(km[0]), "name"), QStringLiteral("userid"));
    EXPECT_TRUE(fields(km[0]).value(QLatin1String("accepted")).toBool());
    EXPECT_EQ(str(fields(km[1]), "name"), QStringLiteral("privilege-request"));

    const Window dialog = ui.open_media_dialog(main);
    ASSERT_NE(dialog, 0u) << "the media dialog did not open";
    EXPECT_EQ(x.geometry(dialog).size(), QSize(284, 152));

    // The first sector the viewer sends is refused once: it comes again.
    ASSERT_TRUE(dev.command(QStringLiteral("refuse-next-read")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(ui.choose_image(dialog, image));
    ASSERT_TRUE(ui.press_map(dialog, false));

    const QJsonObject map = wait_map();
    ASSERT_FALSE(map.isEmpty()) << "devsim saw no map";
    EXPECT_EQ(map.value(QLatin1String("flags")).toInt(), 0x01);
    EXPECT_EQ(map.value(QLatin1String("sectors")).toInteger(), qint64(k_image_sectors));

    ASSERT_TRUE(wait_whole_read(120000)) << "devsim never finished reading the disk";
    EXPECT_TRUE(files_identical(device_copy, image));
    // At the default level the whole 16 MiB read leaves little in the log.
    qint64 logged = 0;
    for (QDirIterator it(path("log"), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        logged += QFileInfo(it.next()).size();
    EXPECT_GT(logged, 0);
    EXPECT_LT(logged, 1000 * 1000);
    QByteArray report;
    EXPECT_TRUE(fat_clean(device_copy, &report)) << report.toStdString();
    EXPECT_EQ(fat_get(device_copy, QStringLiteral("::/BIG.BIN"), path("got.bin")), read_file(path("big.bin")));

    qint64 refused = -1;
    bool resent = false;
    for (const QJsonObject& o : events()) {
        if (!is_recv(o, "media", "read-data"))
            continue;
        const qint64 sector = fields(o).value(QLatin1String("sector")).toInteger();
        if (fields(o).value(QLatin1String("refused")).toBool())
            refused = sector;
        else if (sector == refused)
            resent = true;
    }
    EXPECT_GE(refused, 0) << "no read-data was refused";
    EXPECT_TRUE(resent) << "the refused sector " << refused << " never came again";

    // devsim writes a new file's sectors; mtools reads it from the local image.
    const QByteArray content = pattern_bytes(700 * 1024 + 17, 3);
    int runs = 0;
    const QString changed = write_new_file(content, &runs);
    ASSERT_TRUE(wait_writes_served(runs, 60000));
    EXPECT_TRUE(files_identical(image, changed));
    EXPECT_EQ(fat_get(image, QStringLiteral("::/DOCS/NEW.BIN"), path("got-new.bin")), content);
    EXPECT_EQ(fat_get(image, QStringLiteral("::/BIG.BIN"), path("got.bin")), read_file(path("big.bin")));
    EXPECT_TRUE(fat_clean(image, &report)) << report.toStdString();

    close_viewer(main, dialog);
    EXPECT_TRUE(files_identical(image, changed));
}

TEST_F(MediaE2E, ReadOnlyMapKeepsTheImage)
{
    start_devsim();
    const Window main = start_viewer();
    ASSERT_NE(main, 0u) << viewer.error_output().toStdString();
    const Window dialog = ui.open_media_dialog(main);
    ASSERT_NE(dialog, 0u) << "the media dialog did not open";

    ASSERT_TRUE(ui.choose_image(dialog, image));
    ASSERT_TRUE(ui.press_map(dialog, true));
    const QJsonObject map = wait_map();
    ASSERT_FALSE(map.isEmpty()) << "devsim saw no map";
    EXPECT_EQ(map.value(QLatin1String("flags")).toInt(), 0x81);
    EXPECT_EQ(map.value(QLatin1String("sectors")).toInteger(), qint64(k_image_sectors));

    // Reading works as before.
    ASSERT_TRUE(wait_whole_read(120000)) << "devsim never finished reading the disk";
    EXPECT_TRUE(files_identical(device_copy, image));
    // At the default level the whole 16 MiB read leaves little in the log.
    qint64 logged = 0;
    for (QDirIterator it(path("log"), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        logged += QFileInfo(it.next()).size();
    EXPECT_GT(logged, 0);
    EXPECT_LT(logged, 1000 * 1000);

    // The device's writes are served (each sector accepted) but the local
    // image stays as it was.
    int runs = 0;
    write_new_file(pattern_bytes(64 * 1024, 4), &runs);
    ASSERT_TRUE(wait_writes_served(runs, 60000));
    EXPECT_TRUE(files_identical(image, pristine));
    QByteArray report;
    EXPECT_TRUE(fat_clean(image, &report)) << report.toStdString();

    close_viewer(main, dialog);
    EXPECT_TRUE(files_identical(image, pristine));
}
