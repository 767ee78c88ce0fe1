#include "c_devsim_options.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <random>

namespace {

bool parseKey(const QString& text, std::array<uint8_t, 8>& key)
{
    QString t = text.trimmed();
    if (t.size() != 16)
        return false;
    for (int i = 0; i < 8; ++i) {
        bool ok = false;
        const uint v = t.mid(i * 2, 2).toUInt(&ok, 16);
        if (!ok)
            return false;
        key[i] = uint8_t(v);
    }
    return true;
}

QString keyHex(const std::array<uint8_t, 8>& key)
{
    QString s;
    for (uint8_t b : key)
        s += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return s;
}

bool parseUInt(const QString& text, long long lo, long long hi, long long* out)
{
    bool ok = false;
    const long long v = text.toLongLong(&ok, 10);
    if (!ok || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

}  // namespace

void c_devsim_options::randomKeys()
{
    std::random_device rd;
    for (auto& b : desEncode)
        b = uint8_t(rd());
    for (auto& b : desDecode)
        b = uint8_t(rd());
}

QString c_devsim_options::usage()
{
    return QStringLiteral(
        "Usage: devsim [options]\n"
        "Plays a KVM-over-IP device on 127.0.0.1 for the H264Video viewer. The first line\n"
        "on standard output is the viewer's launch string:  H264Video \"$(that line)\"\n"
        "\n"
        "Ports (all on 127.0.0.1; 0 = let the system choose):\n"
        "  --port-video N        video channel (default 5916)\n"
        "  --port-km N           KM channel (default 5917)\n"
        "  --port-media N        media channel (default 5918)\n"
        "  --port-control N      control port, line commands (default 5919)\n"
        "  --ports N             0: all four chosen by the system; otherwise video N,\n"
        "                        KM N+1, media N+2, control N+3\n"
        "  --no-control-port     no control port (standard input only)\n"
        "Identity and keys:\n"
        "  --dog-id N            target adapter number (default 0)\n"
        "  --user-name TEXT      user name (default admin)\n"
        "  --user-id N           user identifier (default 1)\n"
        "  --mouse-mode 0|1      0 relative, 1 absolute (default 1)\n"
        "  --des-encode HEX16    key the device enciphers with (default random)\n"
        "  --des-decode HEX16    key the viewer enciphers KM messages with (default random)\n"
        "Picture:\n"
        "  --size WxH            picture size (default 1280x720)\n"
        "  --fps N               frames per second (default 30)\n"
        "  --pictures N          send N pictures per connection, then nothing, as a still screen (default: no limit)\n"
        "  --fragment BYTES      H.264 bytes per video message (default 61440)\n"
        "  --video-clear         send video messages without enciphering\n"
        "  --crf N               encoder quality, lower is better (default 23)\n"
        "  --bitrate KBPS        average bit rate instead of --crf\n"
        "  --step N              pixels per picture position request (default 8)\n"
        "  --x11 DISPLAY         capture this X display and inject input into it\n"
        "Login:\n"
        "  --refuse-login        answer every user identification with 50 01\n"
        "  --close-after-opening close each connection right after answering its\n"
        "                        user identification (as with a wrong key)\n"
        "KM channel:\n"
        "  --km-delay MS         wait before each answer (default 0)\n"
        "  --km-no-answer        never answer KM messages\n"
        "  --km-cipher MODE      auto (default): encipher answers unless the viewer's\n"
        "                        padding strip would eat their value byte; always; never\n"
        "  --privilege 0|1       state reported to the viewer: 1 write (default), 0 read\n"
        "Media channel:\n"
        "  --read-chunk N        sectors per read request (default 128)\n"
        "  --no-read             do not read the mapped disk on map\n"
        "  --media-out PATH      image file the read sectors go to (default devsim-media.img\n"
        "                        in a new directory under $XDG_RUNTIME_DIR or the\n"
        "                        temporary directory)\n"
        "Events and control:\n"
        "  --events PATH         JSON line per received message (default devsim-events.jsonl\n"
        "                        beside the default image file; empty: none)\n"
        "  --events-hex-max N    payload bytes shown in hex (default 64; 0 all)\n"
        "  --no-stdin            do not read commands from standard input\n"
        "  --verbose             report every message on standard error\n"
        "  --busy-wait           look for the viewer's next message for up to 50 us\n"
        "                        before sleeping, as a dedicated device answers at once\n"
        "  --help                this text\n"
        "\n"
        "Commands (standard input or the control port, one per line):\n"
        "  privilege 0|1  giveup  grab V  led BITS  read START COUNT  write START FILE\n"
        "  refuse-next-read  close video|km|media  stall km  unstall km  km-delay MS\n"
        "  status  help  quit\n");
}

bool c_devsim_options::parse(const QStringList& args, QString* error, bool* help)
{
    *help = false;

    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        bool hasValue = false;
        const int eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        auto next = [&](QString* out) {
            if (hasValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("option %1 needs a value").arg(name);
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto number = [&](long long lo, long long hi, long long* out) {
            QString v;
            if (!next(&v))
                return false;
            if (!parseUInt(v, lo, hi, out)) {
                *error = QStringLiteral("option %1: \"%2\" is not a number from %3 to %4")
                             .arg(name, v)
                             .arg(lo)
                             .arg(hi);
                return false;
            }
            return true;
        };
        long long n = 0;
        QString v;

        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            *help = true;
            return true;
        } else if (name == QLatin1String("--port-video")) {
            if (!number(0, 65535, &n))
                return false;
            portVideo = uint16_t(n);
        } else if (name == QLatin1String("--port-km")) {
            if (!number(0, 65535, &n))
                return false;
            portKM = uint16_t(n);
        } else if (name == QLatin1String("--port-media")) {
            if (!number(0, 65535, &n))
                return false;
            portMedia = uint16_t(n);
        } else if (name == QLatin1String("--port-control")) {
            if (!number(0, 65535, &n))
                return false;
            portControl = uint16_t(n);
        } else if (name == QLatin1String("--ports")) {
            if (!number(0, 65532, &n))
                return false;
            portVideo = uint16_t(n);
            portKM = uint16_t(n ? n + 1 : 0);
            portMedia = uint16_t(n ? n + 2 : 0);
            portControl = uint16_t(n ? n + 3 : 0);
        } else if (name == QLatin1String("--no-control-port")) {
            controlPort = false;
        } else if (name == QLatin1String("--dog-id")) {
            if (!number(0, 255, &n))
                return false;
            dogID = uint32_t(n);
        } else if (name == QLatin1String("--user-name")) {
            if (!next(&v))
                return false;
            // These characters would split or end the launch string's parts.
            for (QChar c : v) {
                if (c == QLatin1Char(',') || c == QLatin1Char('{') || c == QLatin1Char('}') ||
                    c == QLatin1Char('"')) {
                    *error = QStringLiteral("--user-name must not contain , { } or \"");
                    return false;
                }
            }
            userNM = v;
        } else if (name == QLatin1String("--user-id")) {
            if (!number(0, 4294967295LL, &n))
                return false;
            userID = uint32_t(n);
        } else if (name == QLatin1String("--mouse-mode")) {
            if (!number(0, 1, &n))
                return false;
            mouseMode = uint32_t(n);
        } else if (name == QLatin1String("--des-encode") || name == QLatin1String("--des-decode")) {
            if (!next(&v))
                return false;
            const bool enc = name == QLatin1String("--des-encode");
            if (!parseKey(v, enc ? desEncode : desDecode)) {
                *error = QStringLiteral("%1 needs 16 hexadecimal digits").arg(name);
                return false;
            }
        } else if (name == QLatin1String("--size")) {
            if (!next(&v))
                return false;
            const QStringList wh = v.toLower().split(QLatin1Char('x'));
            long long w = 0, h = 0;
            if (wh.size() != 2 || !parseUInt(wh[0], 16, 4096, &w) || !parseUInt(wh[1], 16, 4096, &h) ||
                (w % 2) || (h % 2)) {
                *error = QStringLiteral("--size needs WxH with even numbers from 16 to 4096");
                return false;
            }
            width = int(w);
            height = int(h);
        } else if (name == QLatin1String("--pictures")) {
            if (!number(1, 1000000000, &n))
                return false;
            pictureLimit = int(n);
        } else if (name == QLatin1String("--fps")) {
            if (!number(1, 120, &n))
                return false;
            fps = int(n);
        } else if (name == QLatin1String("--fragment")) {
            if (!number(1, 512 * 1024 - 16, &n))
                return false;
            fragmentSize = int(n);
        } else if (name == QLatin1String("--video-clear")) {
            videoCipher = false;
        } else if (name == QLatin1String("--crf")) {
            if (!number(0, 51, &n))
                return false;
            crf = int(n);
        } else if (name == QLatin1String("--bitrate")) {
            if (!number(1, 1000000, &n))
                return false;
            bitrateKbps = int(n);
        } else if (name == QLatin1String("--step")) {
            if (!number(1, 1000, &n))
                return false;
            pictureStep = int(n);
        } else if (name == QLatin1String("--x11")) {
            if (!next(&x11Display))
                return false;
        } else if (name == QLatin1String("--km-delay")) {
            if (!number(0, 600000, &n))
                return false;
            kmDelayMs = int(n);
        } else if (name == QLatin1String("--km-no-answer")) {
            kmAnswer = false;
        } else if (name == QLatin1String("--refuse-login")) {
            refuseLogin = true;
        } else if (name == QLatin1String("--close-after-opening")) {
            closeAfterOpening = true;
        } else if (name == QLatin1String("--km-cipher")) {
            if (!next(&v))
                return false;
            if (v == QLatin1String("auto"))
                kmCipher = KmCipher::Auto;
            else if (v == QLatin1String("always"))
                kmCipher = KmCipher::Always;
            else if (v == QLatin1String("never"))
                kmCipher = KmCipher::Never;
            else {
                *error = QStringLiteral("--km-cipher is auto, always or never");
                return false;
            }
        } else if (name == QLatin1String("--privilege")) {
            if (!number(0, 1, &n))
                return false;
            privilege = int(n);
        } else if (name == QLatin1String("--read-chunk")) {
            if (!number(1, 65535, &n))
                return false;
            readChunk = int(n);
        } else if (name == QLatin1String("--busy-wait")) {
            busyWait = true;
        } else if (name == QLatin1String("--no-read")) {
            readWholeDisk = false;
        } else if (name == QLatin1String("--media-out")) {
            if (!next(&mediaOut))
                return false;
            mediaOutGiven = true;
        } else if (name == QLatin1String("--events")) {
            if (!next(&eventsFile))
                return false;
            eventsFileGiven = true;
        } else if (name == QLatin1String("--events-hex-max")) {
            if (!number(0, 1 << 20, &n))
                return false;
            eventsHexMax = int(n);
        } else if (name == QLatin1String("--no-stdin")) {
            readStdin = false;
        } else if (name == QLatin1String("--verbose") || name == QLatin1String("-v")) {
            verbose = true;
        } else {
            *error = QStringLiteral("unknown option %1 (see --help)").arg(name);
            return false;
        }
    }
    return true;
}

QString c_devsim_options::launchString(uint16_t video, uint16_t km, uint16_t media) const
{
    const QString plain = QStringLiteral(
                              "{desEncode:%1,desDecode:%2,ip:127.0.0.1,portKM:%3,portMedia:%4,portV:%5,"
                              "dogID:%6,mouseMode:%7,userNM:%8,userID:%9}")
                              .arg(keyHex(desEncode), keyHex(desDecode))
                              .arg(km)
                              .arg(media)
                              .arg(video)
                              .arg(dogID)
                              .arg(mouseMode)
                              .arg(userNM)
                              .arg(userID);
    return QString::fromLatin1(QUrl::toPercentEncoding(plain));
}

bool c_devsim_options::placeDefaultFiles(QString* dir, QString* error)
{
    dir->clear();
    if (mediaOutGiven && eventsFileGiven)
        return true;
    // Never the working directory: a run started from a source tree would
    // leave its files there. The runtime directory is private to the user.
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    QTemporaryDir made(base + QStringLiteral("/devsim-XXXXXX"));
    if (!made.isValid()) {
        *error = QStringLiteral("cannot create a directory for the events and image files under %1: %2")
                     .arg(base, made.errorString());
        return false;
    }
    made.setAutoRemove(false);
    *dir = made.path();
    if (!mediaOutGiven)
        mediaOut = made.filePath(QStringLiteral("devsim-media.img"));
    if (!eventsFileGiven)
        eventsFile = made.filePath(QStringLiteral("devsim-events.jsonl"));
    return true;
}
