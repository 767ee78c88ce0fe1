// Writes the fuzz targets' seed corpora: what the test device really sends on
// its three channels (captured on loopback while the viewer's own protocol
// code, or a minimal client built from the viewer's message builders, talks
// to it), the H.264 access units it encodes, its launch string, and key and
// config files written by the program's own file writers.
//
//   fuzz_make_seeds <corpus directory>
#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "c_devsim.h"
#include "c_devsim_km.h"
#include "c_devsim_media.h"
#include "c_devsim_video.h"
#include "fuzz_common.h"
#include "thread/c_media_protocol.h"
#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_recv_u.h"
#include "tools/key_mouse/km_messages.h"
#include "ui/c_config_file.h"
#include "ui/c_key_file.h"

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

namespace {

fs::path g_out;
fs::path g_work;

void save(const std::string& target, const std::string& name, const bytes& data)
{
    const fs::path dir = g_out / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    std::printf("%-22s %-28s %7zu bytes\n", target.c_str(), name.c_str(), data.size());
}

bytes with_prefix(const bytes& prefix, const bytes& rest)
{
    bytes out = prefix;
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

bool wait_for(const std::function<bool()>& cond, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A plain loopback client that records what the device sends.
class client
{
public:
    explicit client(uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::perror("connect");
            std::exit(1);
        }
    }
    ~client() { ::close(m_fd); }

    void send(const bytes& frame) { send(frame.data(), frame.size()); }
    void send(const uint8_t* p, size_t n)
    {
        while (n) {
            const ssize_t r = ::send(m_fd, p, n, MSG_NOSIGNAL);
            if (r <= 0)
                return;
            p += r;
            n -= size_t(r);
        }
    }
    void send(const CQUEUE_MESSAGE& m)
    {
        send(m.data, m.length);
        CQUEUE_MESSAGE copy = m;
        copy.free_data();
    }

    // Reads what arrives within ms, up to limit bytes in all.
    void receive(int ms, size_t limit)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (m_got.size() < limit) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            uint8_t buf[65536];
            const ssize_t r = ::recv(m_fd, buf, sizeof buf, 0);
            if (r <= 0)
                break;
            m_got.insert(m_got.end(), buf, buf + r);
        }
    }

    const bytes& got() const { return m_got; }

private:
    int m_fd = -1;
    bytes m_got;
};

// The stream cut after the last whole frame that ends within limit bytes.
bytes whole_frames(const bytes& stream, size_t limit)
{
    c_memory_byte_source src(stream.data(), uint32_t(stream.size()));
    c_frame_reader reader;
    size_t end = 0;
    while (reader.read_frame(src) == frame_read_result::frame) {
        const size_t here = stream.size() - src.remaining();
        if (here > limit)
            break;
        end = here;
    }
    return bytes(stream.begin(), stream.begin() + long(end));
}

// The stream cut after the frame that ends the n-th picture (flag 1 in the
// deciphered start of a type-6 body).
bytes first_pictures(const bytes& stream, int n)
{
    c_memory_byte_source src(stream.data(), uint32_t(stream.size()));
    c_frame_reader reader;
    int pictures = 0;
    while (reader.read_frame(src) == frame_read_result::frame) {
        uint8_t* start = reader.body();
        uint32_t len = reader.body_length();
        if (!video_frame_prepare(reader.header(), &start, &len, fuzz::device_key()))
            continue;
        if (len >= 12 && start[0] == 6 && start[1] == 1 && ++pictures == n)
            return bytes(stream.begin(), stream.end() - long(src.remaining()));
    }
    return stream;
}

c_devsim_options device_options()
{
    c_devsim_options o;
    o.portVideo = 0;
    o.portKM = 0;
    o.portMedia = 0;
    o.controlPort = false;
    o.eventsFile.clear();
    o.readStdin = false;
    o.userID = 1;
    o.dogID = 2;
    std::memcpy(o.desEncode.data(), fuzz::device_key(), 8);
    std::memcpy(o.desDecode.data(), fuzz::viewer_key(), 8);
    o.width = 176;
    o.height = 144;
    o.fps = 25;
    o.fragmentSize = 1400;
    o.readChunk = 16;
    o.mediaOut = QString::fromStdString((g_work / "devsim-media.img").string());
    return o;
}

struct video_capture
{
    bytes stream;
    std::vector<bytes> units;
};

video_capture capture_video(c_devsim_options o, int pictures)
{
    c_devsim dev(o);
    QString error;
    if (!dev.start(&error)) {
        std::fprintf(stderr, "devsim: %s\n", error.toLocal8Bit().constData());
        std::exit(1);
    }
    video_capture cap;
    std::mutex lock;
    dev.video().set_au_observer([&](const bytes& au) {
        std::lock_guard<std::mutex> g(lock);
        if (int(cap.units.size()) < pictures)
            cap.units.push_back(au);
    });
    {
        client c(dev.port_video());
        c.send(build_msg_50(o.userID));
        c.receive(1000 + pictures * 1000 / o.fps, 1 << 20);
        cap.stream = c.got();
    }
    dev.video().set_au_observer(nullptr);
    dev.stop();
    return cap;
}

void video_seeds()
{
    c_devsim_options o = device_options();
    const video_capture ciphered = capture_video(o, 4);
    o.videoCipher = false;
    const video_capture clear = capture_video(o, 4);
    o.width = 320;
    o.height = 180;
    o.fragmentSize = 60 * 1024;
    const video_capture larger = capture_video(o, 2);

    // Stream mode (flag byte bit 0 clear): the channel's bytes from the start.
    const bytes c3 = first_pictures(ciphered.stream, 3);
    save("fuzz_video_path", "devsim_ciphered_3pictures", with_prefix({0}, c3));
    save("fuzz_video_path", "devsim_ciphered_keep", with_prefix({2}, first_pictures(ciphered.stream, 2)));
    save("fuzz_video_path", "devsim_clear_3pictures", with_prefix({4}, first_pictures(clear.stream, 3)));
    // A size change: the small stream, then the larger one from its key frame.
    bytes change = first_pictures(clear.stream, 2);
    const bytes big = first_pictures(larger.stream, 1);
    change.insert(change.end(), big.begin(), big.end());
    save("fuzz_video_path", "devsim_size_change", with_prefix({6}, change));

    // Raw mode (bit 0 set): the access units the device encoded, in fragments
    // of [flag, u16 length, bytes].
    auto raw = [](const std::vector<bytes>& units, size_t fragment, uint8_t flags) {
        bytes out{flags};
        for (const bytes& au : units) {
            for (size_t pos = 0; pos < au.size(); pos += fragment) {
                const size_t n = std::min(fragment, au.size() - pos);
                out.push_back(pos + n >= au.size() ? 1 : 0);
                out.push_back(uint8_t(n >> 8));
                out.push_back(uint8_t(n));
                out.insert(out.end(), au.begin() + long(pos), au.begin() + long(pos + n));
            }
        }
        return out;
    };
    save("fuzz_video_path", "devsim_units_whole", raw(ciphered.units, 65535, 1));
    save("fuzz_video_path", "devsim_units_fragments", raw(ciphered.units, 700, 3));
    if (ciphered.units.size() > 1)
        save("fuzz_video_path", "devsim_units_no_keyframe",
             raw(std::vector<bytes>(ciphered.units.begin() + 1, ciphered.units.end()), 65535, 5));

    // The frame cutter: the same bytes in several chunk schedules.
    const bytes head = whole_frames(ciphered.stream, 6000);
    save("fuzz_frame_cutter", "video_whole", with_prefix({0}, head));
    save("fuzz_frame_cutter", "video_chunks_1_7_0", with_prefix({3, 1, 7, 0}, head));
    save("fuzz_frame_cutter", "video_clear_chunks_13", with_prefix({1, 13}, whole_frames(clear.stream, 6000)));
}

void km_seeds()
{
    const c_devsim_options o = device_options();
    c_devsim dev(o);
    QString error;
    if (!dev.start(&error)) {
        std::fprintf(stderr, "devsim: %s\n", error.toLocal8Bit().constData());
        std::exit(1);
    }
    bytes stream;
    {
        client c(dev.port_km());
        const auto id = km_userid_payload(o.userID);
        c.send(build_km_frame(CMD_KM_USERID, id.data(), uint32_t(id.size()), fuzz::viewer_key()));
        const uint8_t a_down[8] = {0, 0, 4, 0, 0, 0, 0, 0};
        const uint8_t up[8] = {};
        c.send(build_km_frame(CMD_KM_KEYBOARD, a_down, 8, fuzz::viewer_key()));
        c.send(build_km_frame(CMD_KM_KEYBOARD, up, 8, fuzz::viewer_key()));
        const auto abs = km_mouse_abs_payload(KM_ABS_LEFT, 960, 600, 0);
        c.send(build_km_frame(CMD_KM_MOUSE_ABS, abs.data(), uint32_t(abs.size()), fuzz::viewer_key()));
        const uint8_t zero = 0;
        c.send(build_km_frame(CMD_KM_KEEPALIVE, &zero, 1, fuzz::viewer_key()));
        c.send(build_km_frame(CMD_KM_PRIVILEGE, &zero, 1, fuzz::viewer_key()));
        wait_for([&] { return dev.km().received() >= 6; }, 3000);
        dev.km().send_giveup();
        dev.km().send_grab_result(0);
        dev.km().send_privilege(1);
        c.receive(800, 1 << 16);
        stream = c.got();
    }
    dev.stop();
    save("fuzz_frame_cutter", "km_whole", with_prefix({0}, stream));
    save("fuzz_frame_cutter", "km_chunks_2_0_5", with_prefix({3, 2, 0, 5}, stream));
    // A stray byte before the stream and a frame cut short at the end.
    bytes torn{0x00, 0xA5};
    torn.insert(torn.end(), stream.begin(), stream.end());
    if (stream.size() > 5)
        torn.insert(torn.end(), stream.begin(), stream.begin() + 5);
    save("fuzz_frame_cutter", "km_torn", with_prefix({0}, torn));
}

// Passes every media message on to the viewer's handler and keeps a copy of
// it as the device framed it (the media channel is never enciphered).
class media_tap : public c_abs_net_handler
{
public:
    explicit media_tap(c_abs_net_handler& next) : m_next(next) {}

    unsigned char on_net_msg(const void* sender, const unsigned char* body, unsigned int plain,
                             unsigned int len) override
    {
        {
            std::lock_guard<std::mutex> g(m_lock);
            bytes frame(FRAME_HEADER_LEN + len);
            uint32_t n = 0;
            frame_serialise({{len, body}}, frame.data(), uint32_t(frame.size()), &n);
            m_stream.insert(m_stream.end(), frame.begin(), frame.end());
        }
        return m_next.on_net_msg(sender, body, plain, len);
    }

    bytes stream()
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_stream;
    }

private:
    c_abs_net_handler& m_next;
    std::mutex m_lock;
    bytes m_stream;
};

void media_seeds()
{
    c_devsim_options o = device_options();
    c_devsim dev(o);
    QString error;
    if (!dev.start(&error)) {
        std::fprintf(stderr, "devsim: %s\n", error.toLocal8Bit().constData());
        std::exit(1);
    }

    // The same 64-sector disk the media target maps.
    const fs::path image = g_work / "disk.img";
    {
        bytes disk(64 * 512);
        for (size_t i = 0; i < disk.size(); ++i)
            disk[i] = uint8_t(i * 7 + i / 512);
        std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(disk.data()), long(disk.size()));
        bytes file(3 * 512, 0x5c);
        std::ofstream(g_work / "write.bin", std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                                    long(file.size()));
    }

    bytes stream;
    {
        c_media_protocol proto;
        if (!proto.connect_channel("127.0.0.1", dev.port_media())) {
            std::fprintf(stderr, "media connect failed\n");
            std::exit(1);
        }
        media_tap tap(proto);
        proto.start_channel(o.userID);
        proto.recv_thread()->set_handler(&tap);
        proto.map(image.string(), false);
        // The whole disk is read in wishes of 16 sectors.
        if (!wait_for([&] { return dev.media().status().wholeDiskDone; }, 20000)) {
            std::fprintf(stderr, "media: the device did not read the whole disk\n");
            std::exit(1);
        }
        QString why;
        if (!dev.media().queue_write(5, QString::fromStdString((g_work / "write.bin").string()), &why) ||
            !dev.media().queue_read(60, 4, &why)) {
            std::fprintf(stderr, "media: %s\n", why.toLocal8Bit().constData());
            std::exit(1);
        }
        dev.media().refuse_next_read();
        // The device only asks again after a status request: the poll sends one.
        for (int i = 0; i < 400 && !(dev.media().status().jobs == 0 && dev.media().status().sectorsWritten >= 3);
             ++i) {
            proto.poll_tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (dev.media().status().sectorsWritten < 3) {
            std::fprintf(stderr, "media: the device wrote nothing\n");
            std::exit(1);
        }
        // A status answer with no wish, then the poll.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        proto.unmap();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stream = tap.stream();
        proto.recv_thread()->set_handler(&proto);
    }
    dev.stop();

    save("fuzz_media_handler", "devsim_session", with_prefix({0}, stream));
    save("fuzz_media_handler", "devsim_session_in_flight", with_prefix({2}, stream));
    save("fuzz_media_handler", "devsim_session_read_only", with_prefix({1}, stream));
    save("fuzz_media_handler", "devsim_session_stop_and_wait", with_prefix({4}, stream));
    const bytes head = whole_frames(stream, 6000);
    save("fuzz_frame_cutter", "media_whole", with_prefix({0}, head));
    save("fuzz_frame_cutter", "media_chunks_3_11", with_prefix({2, 3, 11}, head));
}

void launch_seeds()
{
    c_devsim_options o = device_options();
    c_devsim dev(o);
    QString error;
    if (!dev.start(&error))
        std::exit(1);
    const QByteArray real = dev.launch_string().toLatin1();
    dev.stop();
    auto text = [](const QByteArray& s) { return bytes(s.begin(), s.end()); };
    save("fuzz_launch_string", "devsim", text(real));
    save("fuzz_launch_string", "decoded",
         text(QByteArray::fromPercentEncoding(real)));
    save("fuzz_launch_string", "quoted", text("%7B%22ip%22%3A%22127.0.0.1%22%2C%22portV%22%3A%225916%22%7D"));
    save("fuzz_launch_string", "key_with_blanks",
         text("{desEncode:3a 91;5c 07\t e4 28 bd 66,desDecode:710fa25e93c814db,portMedia:0,userNM:admin}"));
    save("fuzz_launch_string", "companion", text("xyz portCOM:3"));
    save("fuzz_launch_string", "percent_at_end", text("{ip:1.2.3.4,userID:%4g,dogID:%"));
    save("fuzz_launch_string", "long", text("{userNM:" + QByteArray(1200, 'u') + ",ip:" + QByteArray(1100, '9') + "}"));
}

void write_text(const fs::path& p, const char* text)
{
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

bytes read_file(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void settings_seeds()
{
    // key.xml as the key file writer leaves it.
    const fs::path key = g_work / "key.xml";
    write_text(key, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n    <common/>\n    <other keep=\"1\">text</other>\n</root>\n");
    SysKeyMap map;
    map.insert(QStringLiteral("Alt+F4"), {{QStringLiteral("Alt"), 0x01000023}, {QStringLiteral("F4"), 0x01000033}});
    map.insert(QStringLiteral("Ctrl+Alt+Del"),
               {{QStringLiteral("Control"), 0x01000021}, {QStringLiteral("Alt"), 0x01000023},
                {QStringLiteral("Delete"), 0x01000007}});
    map.insert(QStringLiteral("b"), {{QStringLiteral("B"), 0x42}});
    map.insert(QStringLiteral("A"), {{QStringLiteral("A"), 0x41}});
    map.insert(QStringLiteral("empty"), {});
    map.insert(QString(), {{QStringLiteral("Print"), 0x01000009}});
    map.insert(QString::fromUtf8("任务管理器 & <esc>"), {{QStringLiteral("Shift"), 0x01000020}, {QStringLiteral("Esc"), 0x01000000}});
    c_key_file writer(QString::fromStdString(key.string()));
    if (!writer.save(map)) {
        std::fprintf(stderr, "key file not written\n");
        std::exit(1);
    }
    save("fuzz_key_xml", "written_by_viewer", read_file(key));
    write_text(key, "<keys><common><k name=\"x\"><v str=\"A\" value=\"65\"/><v str=\"B\"/></k><k/></common></keys>");
    save("fuzz_key_xml", "other_names_missing_attributes", read_file(key));
    write_text(key, "<keys><nocommon/></keys>");
    save("fuzz_key_xml", "no_common", read_file(key));

    const fs::path cfg = g_work / "config.xml";
    write_text(cfg, "<?xml version=\"1.0\"?>\n<config>\n    <mouseRate>1</mouseRate>\n    <other/>\n</config>\n");
    c_config_file cw(QString::fromStdString(cfg.string()));
    if (!cw.save(50)) {
        std::fprintf(stderr, "config file not written\n");
        std::exit(1);
    }
    save("fuzz_config_xml", "written_by_viewer", read_file(cfg));
    write_text(cfg, "<c><mouseRate> 200 </mouseRate><mouseRate>7</mouseRate></c>");
    save("fuzz_config_xml", "two_rates", read_file(cfg));
    write_text(cfg, "<c><mouseRate>-5</mouseRate></c>");
    save("fuzz_config_xml", "negative", read_file(cfg));
    write_text(cfg, "<c><mouseRate/></c>");
    save("fuzz_config_xml", "empty_rate", read_file(cfg));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_out = argv[1];
    char tmpl[] = "/tmp/kvm_seeds_XXXXXX";
    g_work = ::mkdtemp(tmpl);

    launch_seeds();
    settings_seeds();
    km_seeds();
    media_seeds();
    video_seeds();

    std::error_code ec;
    fs::remove_all(g_work, ec);
    return 0;
}
