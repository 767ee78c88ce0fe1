// The media cycle against a scripted viewer: the whole disk read into the
// device's image, a refused sector sent again, a local file written to
// given sectors.
#include <QFile>

#include <random>

#include "devsim_fixture.h"
#include "tools/socket/c_msg_builder.h"

#include "c_devsim_media.h"

namespace {

struct wish_t
{
    int wish = -1;
    uint32_t start = 0;
    uint16_t count = 0;
};

// Status request and the device's answer.
wish_t ask(scripted_channel& media)
{
    wish_t w;
    received_frame f;
    if (!media.send(build_msg_8(1, 0)) || !media.next(f) || f.type() != 8 || f.body.size() < 8)
        return w;
    w.wish = f.body[1];
    w.start = read_be32(f.body.data() + 2);
    w.count = read_be16(f.body.data() + 6);
    return w;
}

// Connects to the media port and identifies as a user, as the viewer does first.
bool identified(scripted_channel& media, uint16_t port)
{
    received_frame f;
    return media.connect(port) && media.send(build_msg_50(42)) && media.next(f);
}

QByteArray random_bytes(int n, unsigned seed)
{
    std::mt19937 gen(seed);
    QByteArray b(n, '\0');
    for (char& c : b)
        c = char(gen());
    return b;
}

}  // namespace

TEST_F(DevsimTest, MediaCycleCopiesTheDiskAndWritesAFile)
{
    const int sectors = 6144;  // 3 MiB
    const QByteArray disk = random_bytes(sectors * 512, 7);
    c_devsim_options o = defaults();
    o.busyWait = true;  // reads that look before sleeping cut the same frames
    start(o);
    scripted_channel media;
    ASSERT_TRUE(identified(media, m_dev->port_media()));
    received_frame f;
    // The viewer's map: an unmap with count 0, then the map with the size.
    ASSERT_TRUE(media.send(build_msg_7(1, 0, 0)));
    ASSERT_TRUE(media.next(f));
    ASSERT_TRUE(media.send(build_msg_7(1, 0x81, sectors)));
    ASSERT_TRUE(media.next(f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{7, 0, 0}));

    int wishes = 0, refused = 0, resent = 0;
    for (;;) {
        const wish_t w = ask(media);
        ASSERT_GE(w.wish, 0);
        if (w.wish != 1)
            break;
        ++wishes;
        EXPECT_EQ(w.count, std::min(128, sectors - int(w.start)));
        if (wishes == 3) {
            EXPECT_TRUE(m_dev->command(QStringLiteral("refuse-next-read")).startsWith(QStringLiteral("ok")));
        }
        for (uint16_t i = 0; i < w.count; ++i) {
            for (;;) {
                const char* sector = disk.constData() + size_t(w.start + i) * 512;
                ASSERT_TRUE(media.send(build_msg_9(1, w.start, i, reinterpret_cast<const uint8_t*>(sector), 512,
                                                   i + 1 == w.count)));
                ASSERT_TRUE(media.next(f));
                ASSERT_EQ(f.type(), 9);
                ASSERT_EQ(f.body.size(), 3u);
                if (f.body[2] == 0)
                    break;
                ++refused;  // the viewer sends the same sector again
                ++resent;
            }
        }
    }
    EXPECT_EQ(wishes, sectors / 128);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(resent, 1);
    ASSERT_TRUE(wait_for([&] { return m_dev->media().status().wholeDiskDone; }));
    EXPECT_TRUE(has_event("media", "read-done"));
    QFile img(m_opt.mediaOut);
    ASSERT_TRUE(img.open(QIODevice::ReadOnly));
    EXPECT_TRUE(img.readAll() == disk) << "the image differs from the disk";

    // Writing a file of 2.5 sectors to sector 100: one wish of 3 sectors,
    // the last one padded with zero bytes.
    const QByteArray file = random_bytes(1280, 9);
    const QString path = m_dir.filePath(QStringLiteral("file.bin"));
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    EXPECT_TRUE(m_dev->command(QStringLiteral("write 100 ") + path).startsWith(QStringLiteral("ok")));
    EXPECT_TRUE(m_dev->command(QStringLiteral("write 6143 ") + path).startsWith(QStringLiteral("error")))
        << "beyond the disk";
    const wish_t w = ask(media);
    ASSERT_EQ(w.wish, 2);
    EXPECT_EQ(w.start, 100u);
    ASSERT_EQ(w.count, 3);
    QByteArray got;
    for (uint16_t off = 0; off < w.count; ++off) {
        ASSERT_TRUE(media.send(build_msg_10(1, off, off + 1 == w.count)));
        ASSERT_TRUE(media.next(f));
        ASSERT_EQ(f.type(), 0x0A);
        ASSERT_EQ(f.body.size(), 520u);
        EXPECT_EQ(read_be32(f.body.data() + 2), 100u);
        EXPECT_EQ(read_be16(f.body.data() + 6), off);
        got.append(reinterpret_cast<const char*>(f.body.data() + 8), 512);
    }
    EXPECT_TRUE(got == file + QByteArray(3 * 512 - file.size(), '\0'));
    // A read command is served next, then nothing is wished.
    EXPECT_TRUE(m_dev->command(QStringLiteral("read 10 2")).startsWith(QStringLiteral("ok")));
    wish_t r = ask(media);
    EXPECT_EQ(r.wish, 1);
    EXPECT_EQ(r.start, 10u);
    EXPECT_EQ(r.count, 2);
    // Asking again before sending anything wishes the same sectors again.
    r = ask(media);
    EXPECT_EQ(r.wish, 1);
    EXPECT_EQ(r.start, 10u);
    for (uint16_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(media.send(build_msg_9(1, 10, i, reinterpret_cast<const uint8_t*>(disk.constData()) + (10 + i) * 512,
                                           512, i == 1)));
        ASSERT_TRUE(media.next(f));
    }
    EXPECT_EQ(ask(media).wish, 0);
    EXPECT_EQ(m_dev->media().status().sectorsWritten, 3u);

    // A write-data request nobody asked for is still acknowledged (with a
    // message of no meaning to the viewer) so it is not sent forever.
    ASSERT_TRUE(media.send(build_msg_10(1, 0, 1)));
    ASSERT_TRUE(media.next(f));
    EXPECT_NE(f.type(), 0x0A);
    // Unmap ends the map and closes the image.
    ASSERT_TRUE(media.send(build_msg_7(1, 0, sectors)));
    ASSERT_TRUE(media.next(f));
    EXPECT_FALSE(m_dev->media().status().mapped);
    EXPECT_EQ(ask(media).wish, 0);
}

// The device stores read data in runs of consecutive sectors. Sectors sent
// out of order, or sent twice with other bytes first, still land where they
// belong with the last bytes sent, and what arrived is in the image by the
// next status request.
TEST_F(DevsimTest, ReadDataOutOfOrderOrSentTwiceLandsWhereItBelongs)
{
    const int sectors = 512;
    const QByteArray disk = random_bytes(sectors * 512, 11);
    const QByteArray junk = random_bytes(512, 12);
    c_devsim_options o = defaults();
    start(o);
    scripted_channel media;
    ASSERT_TRUE(identified(media, m_dev->port_media()));
    received_frame f;
    ASSERT_TRUE(media.send(build_msg_7(1, 0x01, sectors)));
    ASSERT_TRUE(media.next(f));
    auto send_sector = [&](const wish_t& w, uint16_t i, const char* bytes) {
        return media.send(build_msg_9(1, w.start, i, reinterpret_cast<const uint8_t*>(bytes), 512,
                                      i + 1 == w.count)) &&
               media.next(f) && f.type() == 9;
    };
    auto image = [&] {
        QFile img(m_opt.mediaOut);
        return img.open(QIODevice::ReadOnly) ? img.readAll() : QByteArray();
    };

    // First wish: the first half in order, except that sector 5 first gets
    // other bytes; then a status request before the rest.
    wish_t w = ask(media);
    ASSERT_EQ(w.wish, 1);
    ASSERT_EQ(w.count, 128);
    for (uint16_t i = 0; i < 64; ++i)
        ASSERT_TRUE(send_sector(w, i, i == 5 ? junk.constData() : disk.constData() + (w.start + i) * 512));
    ASSERT_TRUE(send_sector(w, 5, disk.constData() + (w.start + 5) * 512));
    const wish_t again = ask(media);
    ASSERT_EQ(again.wish, 1);
    EXPECT_EQ(again.start, w.start + 64) << "the first 64 sectors are stored";
    EXPECT_TRUE(image().left(64 * 512) == disk.left(64 * 512)) << "stored data is in the image by the next request";

    // The rest of the disk, each wish sent from its end back to its start.
    for (w = again; w.wish == 1; w = ask(media)) {
        for (int i = w.count - 1; i >= 0; --i)
            ASSERT_TRUE(send_sector(w, uint16_t(i), disk.constData() + (w.start + i) * 512));
    }
    ASSERT_TRUE(wait_for([&] { return m_dev->media().status().wholeDiskDone; }));
    EXPECT_TRUE(image() == disk) << "the image differs from the disk";
}
