#include "c_devsim_faults.h"

#include <QJsonObject>

#include <array>
#include <cstring>

#include "c_devsim.h"
#include "c_devsim_frames.h"
#include "c_devsim_km.h"
#include "c_devsim_media.h"
#include "c_devsim_video.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_msg_builder.h"

namespace {

constexpr uint32_t k_default_garbage = 10000;
constexpr uint32_t k_sector = 512;

const char* kind_name(c_devsim_faults::channel_kind k)
{
    switch (k) {
    case c_devsim_faults::channel_kind::video: return "video";
    case c_devsim_faults::channel_kind::km: return "km";
    case c_devsim_faults::channel_kind::media: return "media";
    }
    return "?";
}

// A frame around a body as it stands (both lengths = body length).
std::vector<uint8_t> clear_frame(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> out(FRAME_HEADER_LEN + body.size());
    frame_header_template(out.data());
    write_be32(out.data() + 3, uint32_t(body.size()));
    write_be32(out.data() + 7, uint32_t(body.size()));
    if (!body.empty())
        memcpy(out.data() + FRAME_HEADER_LEN, body.data(), body.size());
    out[2] = sum8(out.data() + FRAME_HEADER_LEN, uint32_t(body.size()));
    return out;
}

}  // namespace

c_devsim_faults::c_devsim_faults(c_devsim& dev) : m_dev(dev) {}

QString c_devsim_faults::usage()
{
    return QStringLiteral(
        "fault video|km|media close-header|close-body|reset|length-ffffffff|claim-4g|garbage [N [SEED]]|stall|mute"
        " | fault media wish read|write START COUNT");
}

c_devsim_channel* c_devsim_faults::channel(channel_kind kind) const
{
    switch (kind) {
    case channel_kind::video: return &m_dev.video();
    case channel_kind::km: return &m_dev.km();
    case channel_kind::media: return &m_dev.media();
    }
    return nullptr;
}

std::vector<uint8_t> c_devsim_faults::sample_frame(channel_kind kind) const
{
    const c_devsim_options& o = m_dev.options();
    switch (kind) {
    case channel_kind::video: {
        std::vector<uint8_t> payload(400, 0x5A);
        return c_devsim_frames::video(0, 0, 0, payload.data(), uint32_t(payload.size()),
                                      o.videoCipher ? o.desEncode.data() : nullptr);
    }
    case channel_kind::km: {
        // An answer to a keyboard report with a long enough body to cut.
        const uint8_t payload[15] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
        return build_km_frame(CMD_KM_KEYBOARD, payload, sizeof payload, o.desEncode.data());
    }
    case channel_kind::media: {
        std::vector<uint8_t> body(8 + k_sector, 0x5A);
        body[0] = 0x0A;
        body[1] = 1;
        write_be32(body.data() + 2, 0);
        write_be16(body.data() + 6, 0);
        return clear_frame(body);
    }
    }
    return {};
}

std::vector<uint8_t> c_devsim_faults::claim_4g(channel_kind kind) const
{
    const c_devsim_options& o = m_dev.options();
    std::vector<uint8_t> payload(64, 0x33);
    if (kind == channel_kind::video)
        return c_devsim_frames::video_claiming(1, 0, 0, payload.data(), uint32_t(payload.size()), 0xFFFFFFFFu,
                                               o.videoCipher ? o.desEncode.data() : nullptr);
    std::vector<uint8_t> body(12, 0);
    body[0] = 6;
    body[1] = 1;
    write_be32(body.data() + 8, 0xFFFFFFFFu);
    body.insert(body.end(), payload.begin(), payload.end());
    if (kind == channel_kind::km)
        return build_km_frame(body[0], body.data() + 1, uint32_t(body.size() - 1), o.desEncode.data());
    return clear_frame(body);
}

std::vector<uint8_t> c_devsim_faults::huge_length()
{
    std::vector<uint8_t> out(FRAME_HEADER_LEN + 16, 0x06);
    frame_header_template(out.data());
    write_be32(out.data() + 3, 0xFFFFFFFFu);
    write_be32(out.data() + 7, 0xFFFFFFFFu);
    return out;
}

QString c_devsim_faults::command(const QStringList& w)
{
    const QString err = QStringLiteral("error usage: ") + usage();
    if (w.size() < 2)
        return err;
    const QString ch = w[0].toLower();
    const QString kind = w[1].toLower();
    channel_kind k;
    if (ch == QLatin1String("video"))
        k = channel_kind::video;
    else if (ch == QLatin1String("km"))
        k = channel_kind::km;
    else if (ch == QLatin1String("media"))
        k = channel_kind::media;
    else
        return err;
    c_devsim_channel* c = channel(k);
    if (!c->connected())
        return QStringLiteral("error %1 has no viewer").arg(ch);

    auto number = [&](int i, uint64_t max, uint64_t* out) {
        bool ok = false;
        const qulonglong v = i < w.size() ? w[i].toULongLong(&ok, 0) : 0;
        if (!ok || v > max)
            return false;
        *out = v;
        return true;
    };
    QJsonObject note{{QStringLiteral("kind"), kind}};
    using after = c_devsim_conn::after_inject;
    bool ok = false;
    const std::vector<uint8_t> sample = sample_frame(k);

    if (kind == QLatin1String("close-header") && w.size() == 2) {
        ok = c->inject(std::vector<uint8_t>(sample.begin(), sample.begin() + 6), after::close);
    } else if (kind == QLatin1String("close-body") && w.size() == 2) {
        const size_t cut = FRAME_HEADER_LEN + (sample.size() - FRAME_HEADER_LEN) / 2;
        ok = c->inject(std::vector<uint8_t>(sample.begin(), sample.begin() + long(cut)), after::close);
    } else if (kind == QLatin1String("reset") && w.size() == 2) {
        ok = c->inject({}, after::reset);
    } else if (kind == QLatin1String("length-ffffffff") && w.size() == 2) {
        ok = c->inject(huge_length(), after::keep);
    } else if (kind == QLatin1String("claim-4g") && w.size() == 2) {
        ok = c->inject(claim_4g(k), after::keep);
    } else if (kind == QLatin1String("stall") && w.size() == 2) {
        const size_t cut = FRAME_HEADER_LEN + (sample.size() - FRAME_HEADER_LEN) / 2;
        ok = c->inject(std::vector<uint8_t>(sample.begin(), sample.begin() + long(cut)), after::mute);
    } else if (kind == QLatin1String("mute") && w.size() == 2) {
        ok = c->inject({}, after::mute);
    } else if (kind == QLatin1String("garbage") && w.size() <= 4) {
        uint64_t n = k_default_garbage, seed = 1;
        if ((w.size() > 2 && !number(2, 10000000, &n)) || (w.size() > 3 && !number(3, UINT64_MAX, &seed)))
            return err;
        note.insert(QStringLiteral("frames"), qint64(n));
        note.insert(QStringLiteral("seed"), QString::number(seed));
        const std::array<uint8_t, 8> key = m_dev.options().desEncode;
        // The device outlives the channel's threads; this object does not.
        c_devsim& dev = m_dev;
        ok = c->run_fault([&dev, c, k, n, seed, key] {
            garbage g(k, seed, key.data());
            uint64_t sent = 0;
            while (sent < n && c->inject(g.next(), after::keep))
                ++sent;
            dev.log("%s: %llu of %llu garbage frames sent", kind_name(k), (unsigned long long)sent,
                    (unsigned long long)n);
            dev.events().note(kind_name(k), "fault-done",
                                {{QStringLiteral("kind"), QStringLiteral("garbage")},
                                 {QStringLiteral("frames"), qint64(sent)}});
        });
        if (!ok)
            return QStringLiteral("error %1: garbage already running or no viewer").arg(ch);
    } else if (kind == QLatin1String("wish") && k == channel_kind::media && w.size() == 5) {
        uint64_t start = 0, count = 0;
        const QString what = w[2].toLower();
        if ((what != QLatin1String("read") && what != QLatin1String("write")) || !number(3, 0xFFFFFFFFu, &start) ||
            !number(4, 0xFFFF, &count))
            return err;
        m_dev.media().hostile_wish(what == QLatin1String("read") ? 1 : 2, uint32_t(start), uint32_t(count));
        note.insert(QStringLiteral("wish"), what);
        note.insert(QStringLiteral("start"), qint64(start));
        note.insert(QStringLiteral("count"), qint64(count));
        ok = true;
    } else {
        return err;
    }
    m_dev.events().note(kind_name(k), "fault", note);
    m_dev.log("%s: fault %s%s", kind_name(k), qPrintable(kind), ok ? "" : " (could not be sent)");
    if (!ok)
        return QStringLiteral("error fault %1 %2 could not be sent").arg(ch, kind);
    return QStringLiteral("ok fault %1 %2").arg(ch, kind);
}

// ---------------------------------------------------------------- garbage

c_devsim_faults::garbage::garbage(channel_kind kind, uint64_t seed, const uint8_t* key8)
    : m_kind(kind), m_state(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull), m_key(key8)
{
}

uint32_t c_devsim_faults::garbage::rnd()
{
    // xorshift64*
    m_state ^= m_state >> 12;
    m_state ^= m_state << 25;
    m_state ^= m_state >> 27;
    return uint32_t((m_state * 0x2545F4914F6CDD1Dull) >> 32);
}

void c_devsim_faults::garbage::junk(std::vector<uint8_t>& out)
{
    // No 0xA5 among them: a false sync byte would take a random wire length
    // and end the channel at once, which is a fault of its own.
    const uint32_t n = 1 + below(48);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t b = uint8_t(rnd());
        if (b == FRAME_SYNC)
            b = 0x5A;
        out.push_back(b);
    }
}

std::vector<uint8_t> c_devsim_faults::garbage::frame_of(const std::vector<uint8_t>& body, bool bad_checksum)
{
    std::vector<uint8_t> f = clear_frame(body);
    if (bad_checksum)
        f[2] = uint8_t(f[2] + 1 + below(255));
    // Now and then the plain length differs (the sign of an enciphered body).
    if (below(4) == 0)
        write_be32(f.data() + 3, rnd());
    return f;
}

std::vector<uint8_t> c_devsim_faults::garbage::video_body()
{
    std::vector<uint8_t> b;
    switch (below(4)) {
    case 0: {
        // Type 6 whose payload length field does not match.
        b.resize(12 + below(200));
        for (auto& x : b)
            x = uint8_t(rnd());
        b[0] = 6;
        write_be32(b.data() + 8, uint32_t(b.size() - 12) + 1 + below(100000));
        return b;
    }
    case 1: {
        // Type 6 with honest lengths and a payload of broken H.264: start
        // codes followed by random NAL units, some of them ending a picture.
        std::vector<uint8_t> payload;
        const uint32_t nals = 1 + below(4);
        for (uint32_t i = 0; i < nals; ++i) {
            payload.insert(payload.end(), {0, 0, 0, 1});
            const uint8_t types[] = {1, 5, 6, 7, 8, 9};
            payload.push_back(uint8_t(0x60 | types[below(sizeof types)]));
            const uint32_t n = below(300);
            for (uint32_t j = 0; j < n; ++j)
                payload.push_back(uint8_t(rnd()));
        }
        b.resize(12);
        b[0] = 6;
        b[1] = below(3) == 0 ? 1 : 0;
        write_be32(b.data() + 8, uint32_t(payload.size()));
        b.insert(b.end(), payload.begin(), payload.end());
        return b;
    }
    default: {
        // Any other type but the LED state, with any length (none too).
        b.resize(below(64));
        for (auto& x : b)
            x = uint8_t(rnd());
        if (!b.empty()) {
            const uint8_t replies[] = {30, 31, 32, 50};
            b[0] = below(2) ? replies[below(4)] : uint8_t(rnd());
            if (b[0] == 4 || b[0] == 6)
                b[0] = 7;
        }
        return b;
    }
    }
}

std::vector<uint8_t> c_devsim_faults::garbage::body()
{
    std::vector<uint8_t> b;
    if (m_kind == channel_kind::video)
        return video_body();
    if (m_kind == channel_kind::media) {
        // Every type but the status answer and write data, many of them too
        // short for what they are.
        const uint8_t types[] = {0x32, 0x07, 0x09, 0x0A, 0x08, 0x0B, 0x00, 0xFF};
        const uint8_t type = below(2) ? types[below(sizeof types)] : uint8_t(rnd());
        uint32_t len = below(600);
        if (type == 0x0A)
            len = below(8 + k_sector);  // too short to carry a sector
        if (type == 0x08)
            len = below(8);  // too short to carry a wish
        b.resize(len);
        for (auto& x : b)
            x = uint8_t(rnd());
        if (!b.empty())
            b[0] = type;
        if (b.size() >= 3 && type == 0x09)
            b[2] = uint8_t(1 + below(255));  // a refusal: the sector is sent again
        return b;
    }
    // KM: random bodies; the viewer deciphers most of them. None may decipher
    // to a privilege message.
    for (;;) {
        b.resize(below(64));
        for (auto& x : b)
            x = uint8_t(rnd());
        std::vector<uint8_t> probe = clear_frame(b);
        uint32_t len = uint32_t(b.size());
        if (!km_frame_check(probe.data(), probe.data() + FRAME_HEADER_LEN, &len, m_key))
            continue;
        const uint8_t type = len ? probe[FRAME_HEADER_LEN] : 0;
        if (len == 0 || type < CMD_KM_GRAB || type > CMD_KM_PRIVILEGE)
            return b;
    }
}

std::vector<uint8_t> c_devsim_faults::garbage::next()
{
    std::vector<uint8_t> out;
    if (below(3) == 0)
        junk(out);
    std::vector<uint8_t> f;
    if (m_kind == channel_kind::km && below(3) == 0) {
        // A well enciphered message of any type but the privilege ones.
        uint8_t type;
        do {
            type = uint8_t(rnd());
        } while (type >= CMD_KM_GRAB && type <= CMD_KM_PRIVILEGE);
        std::vector<uint8_t> payload(below(24));
        for (auto& x : payload)
            x = uint8_t(rnd());
        f = build_km_frame(type, payload.data(), uint32_t(payload.size()), m_key);
    } else if (m_kind == channel_kind::km) {
        // The KM plain length is compared as it stands: keep it so that the
        // viewer's decision to decipher is the one body() checked.
        f = clear_frame(body());
        if (below(5) == 0)
            f[2] = uint8_t(f[2] + 1 + below(255));
    } else {
        f = frame_of(body(), below(5) == 0);
    }
    out.insert(out.end(), f.begin(), f.end());
    return out;
}
