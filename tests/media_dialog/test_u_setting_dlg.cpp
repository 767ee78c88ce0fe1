// Virtual media dialog on the offscreen platform, connected to a scripted
// device on loopback, with a fake sysfs tree for the drive list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/log_capture.h"
#include "common/media_device_peer.h"
#include "common/temp_dir.h"
#include "tools/socket/c_channel_keeper.h"
#include "ui/c_ui_u_setting_dlg.h"

namespace fs = std::filesystem;
using namespace media_peer;

namespace
{
class USettingDlg : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.ok());
        m_dir = m_tmp.path();
        m_sys = m_dir / "sys";
        fs::create_directories(m_sys / "block");
        add_drive("sdb", true, 2048);
        add_drive("sda", false, 4096);  // fixed disk: never listed
        m_img = (m_dir / "stick.img").string();
        int fd = ::open(m_img.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(0, ::ftruncate(fd, 64 * 512));
        ::close(fd);
    }
    void TearDown() override
    {
        m_dlg.reset();
    }

    void add_drive(const std::string& name, bool removable, int sectors)
    {
        const fs::path d = m_sys / "block" / name;
        fs::create_directories(d);
        std::ofstream(d / "removable") << (removable ? "1\n" : "0\n");
        std::ofstream(d / "size") << sectors << "\n";
    }

    c_ui_u_setting_dlg::options options(uint16_t port)
    {
        c_ui_u_setting_dlg::options opt;
        opt.ip = "127.0.0.1";
        opt.port = port;
        opt.user_id = 7;
        opt.clock = [this] { return m_now.load(); };
        opt.pauses = {10, 100};
        opt.sysfs_root = m_sys.string();
        opt.choose_image = [this](QWidget*) { return m_choice; };
        return opt;
    }

    // Builds the dialog against the scripted device and takes its user identification.
    void open_dialog()
    {
        m_dlg = std::make_unique<c_ui_u_setting_dlg>(nullptr, options(m_dev.port()));
        ASSERT_TRUE(m_dev.accept_client());
        EXPECT_EQ((bytes{0x32, 0, 0, 0, 7}), m_dev.next());
        m_dev.send({0x32, 0x00});
    }

    QStringList items() const
    {
        QStringList out;
        for (int i = 0; i < m_dlg->ui.comboBox->count(); ++i)
            out << (m_dlg->is_image_entry(i) ? m_dlg->ui.comboBox->itemText(i) : m_dlg->path_at(i));
        return out;
    }

    // Picks the image through the file-dialog entry.
    void choose_image(const std::string& path)
    {
        m_choice = QString::fromStdString(path);
        const int entry = m_dlg->ui.comboBox->count() - 1;
        ASSERT_TRUE(m_dlg->is_image_entry(entry));
        m_dlg->ui.comboBox->setCurrentIndex(entry);
        emit m_dlg->ui.comboBox->activated(entry);
    }

    bool idle_widgets() const
    {
        const auto& u = m_dlg->ui;
        return u.mapButton->isEnabled() && u.comboBox->isEnabled() && !u.unmapButton->isEnabled() &&
               !u.askButton->isEnabled() && !u.progPercent->isEnabled();
    }

    bool mapped_widgets() const
    {
        const auto& u = m_dlg->ui;
        return !u.mapButton->isEnabled() && !u.comboBox->isEnabled() && u.unmapButton->isEnabled() &&
               u.askButton->isEnabled() && u.progPercent->isEnabled();
    }

    TempDir m_tmp{"kvm_udlg_"};
    fs::path m_dir, m_sys;
    std::string m_img;
    QString m_choice;
    std::atomic<int64_t> m_now{5000000};
    scripted_device m_dev;
    std::unique_ptr<c_ui_u_setting_dlg> m_dlg;
};
}  // namespace

TEST_F(USettingDlg, FormTextsAndIdleState)
{
    open_dialog();
    const auto& u = m_dlg->ui;
    EXPECT_EQ("uSetingDialog", m_dlg->objectName());
    EXPECT_EQ(QSize(284, 152), m_dlg->size());
    // The main window stays usable (and closable) while the dialog is open.
    EXPECT_EQ(Qt::NonModal, m_dlg->windowModality());
    EXPECT_EQ("Virtual Media Setting", m_dlg->windowTitle());
    EXPECT_EQ("Map Drive", u.label->text());
    EXPECT_EQ("Map Mode", u.label_2->text());
    EXPECT_EQ("Read Only", u.checkBox->text());
    EXPECT_EQ("Map", u.mapButton->text());
    EXPECT_EQ(QString::fromUtf8("查询"), u.askButton->text());
    EXPECT_EQ("Unmap", u.unmapButton->text());
    EXPECT_EQ("Progress:", u.label_3->text());
    EXPECT_EQ(75, u.lineEdit->maximumWidth());
    EXPECT_EQ(0, u.progPercent->value());
    EXPECT_TRUE(idle_widgets());
    EXPECT_EQ((QStringList{"/dev/sdb", c_ui_u_setting_dlg::image_entry_text()}), items());
}

TEST_F(USettingDlg, RemovableDriveIsChosenByDefaultAndLongPathsAreElided)
{
    // With a stick present it is chosen, so that Map maps it.
    open_dialog();
    EXPECT_EQ("/dev/sdb", m_dlg->current_path());

    // Without one the dialog waits on the file-dialog entry until one shows up.
    m_dlg.reset();
    fs::remove_all(m_sys / "block" / "sdb");
    m_dev.close_connection();
    open_dialog();
    EXPECT_TRUE(m_dlg->is_image_entry(m_dlg->ui.comboBox->currentIndex()));
    add_drive("sdc", true, 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dlg->current_path() == "/dev/sdc"; }, 3000));

    // A long image path is shown with its start and its end, whole in the tool tip.
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    const fs::path deep = m_dir / std::string(120, 'd') / "the-end.img";
    fs::create_directories(deep.parent_path());
    { std::ofstream(deep) << std::string(512, 'x'); }
    choose_image(deep.string());
    const QString whole = QString::fromStdString(deep.string());
    const int at = m_dlg->find_path(whole);
    ASSERT_GE(at, 0);
    EXPECT_EQ(at, m_dlg->ui.comboBox->currentIndex());
    const QString shown = m_dlg->ui.pathLabel->text();
    EXPECT_TRUE(shown.startsWith("/tmp/")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("/the-end.img")) << shown.toStdString();
    EXPECT_LT(shown.size(), whole.size());
    EXPECT_EQ(whole, m_dlg->ui.pathLabel->toolTip());
    EXPECT_EQ(whole, m_dlg->ui.comboBox->toolTip());
    EXPECT_EQ(c_ui_u_setting_dlg::image_entry_text(), items().last());
}

TEST_F(USettingDlg, DriveListFollowsSysfsAndKeepsSelectionAndImages)
{
    open_dialog();
    choose_image(m_img);
    EXPECT_EQ(QString::fromStdString(m_img), m_dlg->current_path());

    // A stick plugged in shows up on the next refresh (1 s timer), the
    // chosen image stays selected and listed.
    add_drive("sdc", true, 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return items().contains("/dev/sdc"); }, 3000));
    EXPECT_EQ(QString::fromStdString(m_img), m_dlg->current_path());
    EXPECT_EQ(c_ui_u_setting_dlg::image_entry_text(), items().last());

    m_dlg->ui.comboBox->setCurrentIndex(m_dlg->find_path("/dev/sdc"));
    fs::remove_all(m_sys / "block" / "sdb");
    add_drive("sdd", true, 0);  // a card reader without a card
    ASSERT_TRUE(QTest::qWaitFor([&] { return !items().contains("/dev/sdb"); }, 3000));
    EXPECT_EQ((QStringList{QString::fromStdString(m_img), "/dev/sdc", c_ui_u_setting_dlg::image_entry_text()}),
              items());
    EXPECT_EQ("/dev/sdc", m_dlg->current_path());

    // Cancelling the file dialog goes back to the previous choice.
    choose_image("");
    EXPECT_EQ("/dev/sdc", m_dlg->current_path());
}

TEST_F(USettingDlg, MapAndUnmapAnImage)
{
    LogCapture log;
    open_dialog();
    choose_image(m_img);
    m_dlg->ui.checkBox->setChecked(true);
    m_dlg->ui.mapButton->click();
    EXPECT_TRUE(mapped_widgets());
    EXPECT_EQ(0, m_dlg->ui.progPercent->value());
    EXPECT_EQ(map_msg(0, 0), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});
    EXPECT_EQ(map_msg(0x81, 64), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());
    m_dev.send(status_answer(1, 0, 0));  // a read wish for nothing: nothing more in flight

    // The query button sends nothing.
    m_dlg->ui.askButton->click();
    EXPECT_EQ(bytes{}, m_dev.next(200));

    // Progress: 12 s after the map, 5 s without a read wish.
    m_now += 12000;
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dlg->ui.progPercent->value() == 100; }, 3000));
    EXPECT_EQ(QString::fromUtf8("Progress(12S）:"), m_dlg->ui.label_3->text());

    m_dlg->ui.unmapButton->click();
    EXPECT_TRUE(idle_widgets());
    EXPECT_EQ(0, m_dlg->ui.progPercent->value());
    EXPECT_EQ("Progress:", m_dlg->ui.label_3->text());
    EXPECT_EQ(map_msg(0, 64), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});

    // Read-write this time; progress completed by the device's reads shows 100.
    m_dlg->ui.checkBox->setChecked(false);
    m_dlg->ui.mapButton->click();
    EXPECT_EQ(map_msg(0, 0), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});
    EXPECT_EQ(map_msg(0x01, 64), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());
    m_dev.send(status_answer(1, 0, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dlg->ui.progPercent->value() == 100; }, 3000));
    EXPECT_TRUE(m_dlg->protocol().progress_complete());

    // Closing the dialog announces the unmap.
    m_dlg.reset();
    bytes last;
    for (bytes b = m_dev.next(1000); !b.empty(); b = m_dev.next(1000))
        last = b;
    EXPECT_EQ(map_msg(0, 0), last);
}

TEST_F(USettingDlg, FailuresLeaveTheDialogIdle)
{
    LogCapture log;
    open_dialog();
    // Nothing chosen yet (only the file-dialog entry): nothing happens.
    m_dlg->ui.comboBox->setCurrentIndex(m_dlg->ui.comboBox->count() - 1);
    m_dlg->ui.mapButton->click();
    EXPECT_TRUE(idle_widgets());

    // An image that has gone away cannot be opened.
    const std::string gone = (m_dir / "gone.img").string();
    { std::ofstream(gone) << "x"; }
    choose_image(gone);
    fs::remove(gone);
    m_dlg->ui.mapButton->click();
    EXPECT_TRUE(log.contains("err onMap_openLocalDisk "));
    EXPECT_TRUE(idle_widgets());
    EXPECT_FALSE(m_dlg->protocol().is_mapped());
    // The dialog says why, with the system's reason.
    const QString why = m_dlg->ui.statusLabel->text();
    EXPECT_TRUE(why.contains(QString::fromStdString(gone))) << why.toStdString();
    EXPECT_TRUE(why.contains("No such file or directory")) << why.toStdString();

    // A FIFO has no writer: the map fails at once, naming what it is, and the
    // dialog goes on (an open that waited for a writer would hang here).
    const std::string fifo = (m_dir / "pipe").string();
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    choose_image(fifo);
    m_dlg->ui.mapButton->click();
    EXPECT_TRUE(idle_widgets());
    EXPECT_TRUE(m_dlg->ui.statusLabel->text().contains("a FIFO")) << m_dlg->ui.statusLabel->text().toStdString();
    choose_image(m_img);
    EXPECT_TRUE(m_dlg->ui.statusLabel->text().isEmpty());
}

TEST_F(USettingDlg, MappedDialogShowsRateAndLocalWriteFailures)
{
    open_dialog();
    choose_image(m_img);
    m_dlg->ui.checkBox->setChecked(true);  // read-only: the device's writes fail here
    m_dlg->ui.mapButton->click();
    ASSERT_TRUE(mapped_widgets());
    EXPECT_EQ(map_msg(0, 0), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});
    EXPECT_EQ(map_msg(0x81, 64), m_dev.next());
    m_dev.send({0x07, 0x01, 0x00});
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());
    m_dev.send(status_answer(2, 5, 2));
    for (uint16_t offset = 0; offset < 2; ++offset)
    {
        EXPECT_EQ((bytes{0x0A, 0x01, 0x00, static_cast<uint8_t>(offset)}), m_dev.next());
        m_dev.send(write_data(5, offset, 0xAB));
    }
    EXPECT_EQ((bytes{0x08, 0x01, 0x00}), m_dev.next());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dlg->ui.statusLabel->text().contains("2 write failures"); }, 3000))
        << m_dlg->ui.statusLabel->text().toStdString();
    EXPECT_TRUE(m_dlg->ui.statusLabel->text().contains("MB/s"));
    EXPECT_TRUE(m_dlg->ui.statusLabel->text().contains("Bad file descriptor"));
}

TEST_F(USettingDlg, ConnectionFailureShowsTheNotice)
{
    // The box does not hold the session up: the dialog is built at once, the
    // box stays open beside it, and says where and why below its usual text.
    const uint16_t port = unused_port();
    m_dlg = std::make_unique<c_ui_u_setting_dlg>(nullptr, options(port));
    auto* box = m_dlg->findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(QString::fromUtf8("提示"), box->windowTitle());
    const QStringList lines = box->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(QString::fromUtf8("虚拟媒体服务器连接出错."), lines[0]);
    EXPECT_EQ(QStringLiteral("127.0.0.1:%1 \u2014 Connection refused").arg(port), lines[1]);
    EXPECT_EQ(m_dlg->protocol().state(), channel_state::reconnecting);
    box->accept();
    // The dialog is built anyway and still maps and unmaps locally.
    choose_image(m_img);
    m_dlg->ui.mapButton->click();
    EXPECT_TRUE(mapped_widgets());
    m_dlg->ui.unmapButton->click();
    EXPECT_TRUE(idle_widgets());
}
