#include "c_devsim_km.h"

#include <QJsonArray>
#include <QJsonObject>

#include <chrono>

#include "c_devsim.h"
#include "c_devsim_frames.h"
#include "tools/crypto/c_des.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_frame.h"

c_devsim_km::c_devsim_km(c_devsim& dev) : c_devsim_channel(dev, "km")
{
    m_answer = dev.options().kmAnswer;
    m_delayMs = dev.options().kmDelayMs;
}

c_devsim_km::~c_devsim_km()
{
    stop();
}

void c_devsim_km::on_disconnect()
{
    // A new viewer starts with no key held.
    m_dev.keyboard_reset();
}

bool c_devsim_km::send_body(const uint8_t* body, uint32_t len)
{
    const c_devsim_options& o = m_dev.options();
    bool encipher = true;
    if (o.kmCipher == c_devsim_options::KmCipher::Never)
        encipher = false;
    else if (o.kmCipher == c_devsim_options::KmCipher::Auto)
        encipher = c_devsim_frames::survives_padding_strip(body, len);
    return send(encipher ? c_devsim_frames::km_enciphered(body, len, o.desEncode.data())
                         : c_devsim_frames::clear(body, len));
}

bool c_devsim_km::send_giveup()
{
    const uint8_t b[1] = {CMD_KM_GIVEUP};
    return send_body(b, 1);
}

bool c_devsim_km::send_grab_result(int v)
{
    m_dev.set_privilege(v == 0 ? 1 : 0);
    const uint8_t b[2] = {CMD_KM_GRAB_RESULT, uint8_t(v)};
    return send_body(b, 2);
}

bool c_devsim_km::send_privilege(int v)
{
    m_dev.set_privilege(v == 1 ? 1 : 0);
    const uint8_t b[2] = {CMD_KM_PRIVILEGE, uint8_t(v)};
    return send_body(b, 2);
}

void c_devsim_km::answer(uint8_t type, uint8_t value)
{
    if (!m_answer)
        return;
    const int delay = m_delayMs;
    if (delay > 0) {
        std::unique_lock<std::mutex> lk(m_delayLock);
        m_delayCond.wait_for(lk, std::chrono::milliseconds(delay), [this] { return stopping(); });
        if (stopping())
            return;
    }
    const uint8_t b[2] = {type, value};
    send_body(b, 2);
}

bool c_devsim_km::on_frame(const uint8_t* header, uint8_t* body, uint32_t len)
{
    const uint32_t plain = frame_plain_len(header);
    const uint8_t* key = m_dev.options().desDecode.data();
    bool enciphered = false;
    if (plain != len) {
        // The viewer pads to a multiple of 8: 0x80, then zero bytes.
        if (len % 8 != 0 || plain > len || len - plain >= 8 || plain == 0) {
            protocol_error("KM frame lengths do not fit an enciphered body");
            return false;
        }
        int n = int(len);
        des_decrypt_frame(key, body, body, &n);
        bool padOk = body[plain] == 0x80;
        for (uint32_t i = plain + 1; i < len; ++i)
            padOk = padOk && body[i] == 0;
        if (!padOk) {
            protocol_error("KM body does not decipher (is desDecode the viewer's key?)");
            return false;
        }
        len = plain;
        enciphered = true;
    } else if (body[0] != CMD_KM_USERID && len % 8 == 0) {
        // A body of a multiple of 8 bytes is enciphered without padding.
        int n = int(len);
        des_decrypt_frame(key, body, body, &n);
        enciphered = true;
    }

    ++m_received;
    const uint8_t type = body[0];
    QJsonObject f;
    f.insert(QStringLiteral("enciphered"), enciphered);
    bool ok = true;
    uint8_t value = 0;
    bool reply = true;
    switch (type) {
    case CMD_KM_KEYBOARD: {
        if (len < 1 + KM_KEYBOARD_LEN) {
            ok = false;
            break;
        }
        const c_devsim_keyboard::result r = m_dev.keyboard_report(body + 1);
        f.insert(QStringLiteral("name"), QStringLiteral("keyboard"));
        f.insert(QStringLiteral("modifiers"), int(body[1]));
        QJsonArray keys;
        for (int i = 3; i < 9; ++i)
            if (body[i])
                keys.append(int(body[i]));
        f.insert(QStringLiteral("keys"), keys);
        f.insert(QStringLiteral("pressed"), QJsonArray::fromStringList(r.pressed));
        f.insert(QStringLiteral("text"), r.text);
        f.insert(QStringLiteral("leds"), int(m_dev.leds()));
        break;
    }
    case CMD_KM_MOUSE_REL: {
        if (len < 1 + KM_MOUSE_REL_LEN) {
            ok = false;
            break;
        }
        const int dx = int8_t(body[2]), dy = int8_t(body[3]), wheel = int8_t(body[4]);
        m_dev.pointer_relative(body[1] & 7, dx, dy, wheel);
        const QPoint p = m_dev.pointer();
        f.insert(QStringLiteral("name"), QStringLiteral("mouse-rel"));
        f.insert(QStringLiteral("buttons"), int(body[1]));
        f.insert(QStringLiteral("dx"), dx);
        f.insert(QStringLiteral("dy"), dy);
        f.insert(QStringLiteral("wheel"), wheel);
        f.insert(QStringLiteral("px"), p.x());
        f.insert(QStringLiteral("py"), p.y());
        break;
    }
    case CMD_KM_MOUSE_ABS: {
        if (len < 1 + KM_MOUSE_ABS_LEN) {
            ok = false;
            break;
        }
        const int x = int16_t(uint16_t(body[2] | (body[3] << 8)));
        const int y = int16_t(uint16_t(body[4] | (body[5] << 8)));
        const int wheel = int8_t(body[6]);
        m_dev.pointer_absolute(body[1], x, y, wheel);
        const QPoint p = m_dev.pointer();
        f.insert(QStringLiteral("name"), QStringLiteral("mouse-abs"));
        f.insert(QStringLiteral("buttons"), int(body[1]));
        f.insert(QStringLiteral("x"), x);
        f.insert(QStringLiteral("y"), y);
        f.insert(QStringLiteral("wheel"), wheel);
        f.insert(QStringLiteral("px"), p.x());
        f.insert(QStringLiteral("py"), p.y());
        break;
    }
    case CMD_KM_KEEPALIVE:
        f.insert(QStringLiteral("name"), QStringLiteral("keepalive"));
        break;
    case CMD_KM_GIVEUP: {
        reply = false;
        if (len < 2) {
            ok = false;
            break;
        }
        const bool agreed = body[1] == 0;
        f.insert(QStringLiteral("name"), QStringLiteral("giveup-answer"));
        f.insert(QStringLiteral("agreed"), agreed);
        if (agreed)
            m_dev.set_privilege(0);
        m_dev.log("km: the viewer %s to give up write privilege", agreed ? "agreed" : "refused");
        break;
    }
    case CMD_KM_GRAB_RESULT:
        reply = false;
        f.insert(QStringLiteral("name"), QStringLiteral("grab-ack"));
        break;
    case CMD_KM_PRIVILEGE:
        f.insert(QStringLiteral("name"), QStringLiteral("privilege-request"));
        value = uint8_t(m_dev.privilege());
        f.insert(QStringLiteral("answer"), int(value));
        break;
    case CMD_KM_USERID: {
        if (len < 1 + KM_USERID_LEN) {
            ok = false;
            break;
        }
        const uint32_t id = read_be32(body + 1);
        const bool known = id == m_dev.options().userID && !m_dev.options().refuseLogin;
        f.insert(QStringLiteral("name"), QStringLiteral("userid"));
        f.insert(QStringLiteral("userID"), qint64(id));
        f.insert(QStringLiteral("accepted"), known);
        value = known ? 0 : 1;
        break;
    }
    default:
        f.insert(QStringLiteral("name"), QStringLiteral("unknown"));
        break;
    }
    if (!ok) {
        f.insert(QStringLiteral("error"), QStringLiteral("too short"));
        value = 1;  // the device reports the report as failed
    }
    m_dev.events().message(name(), body, len, f);
    if (m_dev.options().verbose)
        m_dev.log("km: type %u, %u bytes%s", type, len, ok ? "" : " (too short)");
    if (reply)
        answer(type, value);
    return true;
}
