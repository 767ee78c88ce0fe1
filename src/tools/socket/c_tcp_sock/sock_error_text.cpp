#include "tools/socket/c_tcp_sock/sock_error_text.h"

#include <QString>
#include <cerrno>
#include <cstring>
#include <cwchar>

int sock_error_text(const wchar_t* function, bool socket_error, std::wstring& out, int* code_out)
{
    // Sockets and the system share errno here; the flag is kept for callers.
    (void)socket_error;
    const int code = errno;
    char msg[256];
    const char* text = strerror_r(code, msg, sizeof msg);
    const std::wstring wtext = QString::fromLocal8Bit(text).toStdWString();

    wchar_t buf[1024];
    swprintf(buf, sizeof buf / sizeof buf[0], L"ErrorInfo:File:%ls,Line:%d,Function:%ls errorCode %d: %ls", L"utils",
             38, function ? function : L"", code, wtext.c_str());
    out = buf;
    if (code_out)
        *code_out = code;
    return code;
}

std::string sock_error_text_local8(const std::wstring& text)
{
    const QByteArray local = QString::fromStdWString(text).toLocal8Bit();
    if (local.size() >= 2048)
        return std::string();
    return std::string(local.constData(), static_cast<size_t>(local.size()));
}
