#include "session_params.h"

#include <cstring>
#include <string>

#include <QByteArray>

SessionParams g_para = {};

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Copies at most size - 1 bytes of [text, text + len) and terminates.
void copy_text(char* dst, size_t size, const char* text, size_t len)
{
    if (len > size - 1)
        len = size - 1;
    std::memcpy(dst, text, len);
    dst[len] = '\0';
}

bool starts_with(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

void launch_copy_argument(const char* arg, char* buf)
{
    buf[0] = '\0';
    if (!arg)
        return;
    size_t len = strnlen(arg, LAUNCH_BUFFER_SIZE - 1);
    std::memcpy(buf, arg, len);
    buf[len] = '\0';
}

void launch_percent_decode(char* text)
{
    char* out = text;
    const char* in = text;
    while (*in) {
        if (in[0] == '%' && in[1] != '\0' && in[2] != '\0') {
            int v = 16 * hex_value(in[1]) + hex_value(in[2]);
            *out++ = static_cast<char>(static_cast<unsigned>(v) & 0xFFu);
            in += 3;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}

void launch_remove_quotes(char* text)
{
    char* out = text;
    for (const char* in = text; *in; ++in)
        if (*in != '"')
            *out++ = *in;
    *out = '\0';
}

void launch_prepare(const char* arg, char* buf)
{
    launch_copy_argument(arg, buf);
    launch_percent_decode(buf);
    launch_remove_quotes(buf);
}

bool launch_is_companion(const char* text)
{
    return std::strstr(text, "portCOM") != nullptr;
}

uint32_t launch_parse_decimal(const char* text, size_t len)
{
    bool ok = false;
    uint v = QByteArray(text, static_cast<qsizetype>(len)).toUInt(&ok, 10);
    return ok ? static_cast<uint32_t>(v) : 0;
}

bool launch_parse_hex(const char* text, size_t len, std::vector<uint8_t>& out)
{
    out.clear();
    std::string digits;
    for (size_t i = 0; i < len; ++i) {
        char c = text[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != ';')
            digits += c;
    }
    if (digits.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        int hi = hex_value(digits[i]);
        int lo = hex_value(digits[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

void launch_store_key(FrameKey& key, const std::vector<uint8_t>& bytes)
{
    key.len = LAUNCH_KEY_BYTES;
    for (size_t i = 0; i < LAUNCH_KEY_BYTES; ++i)
        key.key[i] = i < bytes.size() ? bytes[i] : 0;
}

void launch_parse(const char* text, SessionParams& para)
{
    para.mouseMode = 0;

    const std::string all(text);
    size_t begin = all.find('{');
    begin = (begin == std::string::npos) ? 0 : begin + 1;
    size_t end = all.rfind('}');
    if (end == std::string::npos || end < begin)
        end = (end == std::string::npos) ? all.size() : begin;
    const std::string body = all.substr(begin, end - begin);

    size_t pos = 0;
    while (pos <= body.size()) {
        size_t comma = body.find(',', pos);
        if (comma == std::string::npos)
            comma = body.size();
        const std::string part = body.substr(pos, comma - pos);
        pos = comma + 1;
        if (part.empty())
            continue;

        size_t colon = part.find(':');
        const std::string value = colon == std::string::npos ? part : part.substr(colon + 1);
        const char* v = value.c_str();
        const size_t n = value.size();

        if (starts_with(part, "desEncode") || starts_with(part, "desDecode")) {
            std::vector<uint8_t> bytes;
            launch_parse_hex(v, n, bytes);  // a failed parse still keeps the bytes it read
            launch_store_key(starts_with(part, "desEncode") ? para.desEncode : para.desDecode, bytes);
        } else if (starts_with(part, "ip")) {
            copy_text(para.ip, sizeof para.ip, v, n);
        } else if (starts_with(part, "portKM")) {
            para.portKM = launch_parse_decimal(v, n);
        } else if (starts_with(part, "portMedia")) {
            para.portMedia = launch_parse_decimal(v, n);
            if (para.portMedia == 0)
                para.portMedia = DEFAULT_PORT_MEDIA;
        } else if (starts_with(part, "portV")) {
            para.portV = launch_parse_decimal(v, n);
        } else if (starts_with(part, "dogID")) {
            para.dogID = launch_parse_decimal(v, n);
        } else if (starts_with(part, "mouseMode")) {
            para.mouseMode = launch_parse_decimal(v, n);
        } else if (starts_with(part, "userNM")) {
            copy_text(para.userNM, sizeof para.userNM, v, n);
        } else if (starts_with(part, "userID")) {
            para.userID = launch_parse_decimal(v, n);
        }
    }

    // The media channel has a well-known port; never connect to port 0.
    if (para.portMedia == 0)
        para.portMedia = DEFAULT_PORT_MEDIA;
}

bool session_port_valid(uint32_t port)
{
    return port >= 1 && port <= 65535;
}

QString session_port_problem(const char* ip, uint32_t port)
{
    if (session_port_valid(port))
        return QString();
    const QString host = QString::fromLocal8Bit(ip ? ip : "", ip ? static_cast<qsizetype>(strnlen(ip, LAUNCH_BUFFER_SIZE)) : 0);
    return QString::fromUtf8("%1:%2 \u2014 port outside 1\u201365535").arg(host).arg(port);
}

QString session_window_title(const SessionParams& para)
{
    const QString user = QString::fromLocal8Bit(para.userNM, static_cast<qsizetype>(strnlen(para.userNM, sizeof para.userNM)));
    const QString ip = QString::fromLocal8Bit(para.ip, static_cast<qsizetype>(strnlen(para.ip, sizeof para.ip)));
    // One multi-argument arg(): a "%2" inside the user name stays as it is.
    return QString("Orvane V2.1 2018.12.10 - Login User: %1 DongleID:%2 IP: %3")
        .arg(user, QString::number(static_cast<qulonglong>(para.dogID) + 1), ip);
}
