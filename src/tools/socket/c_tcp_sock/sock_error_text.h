#pragma once
// Error text of the last socket or system error:
// "ErrorInfo:File:utils,Line:38,Function:<function> errorCode <code>: <message>"
#include <string>

// Writes the text to out and returns the code (also through code_out when given).
// socket_error selects the last socket error; both are errno on this platform.
int sock_error_text(const wchar_t* function, bool socket_error, std::wstring& out, int* code_out = nullptr);

// The text in the local 8-bit encoding, or an empty string when the converted
// text is 2048 bytes or longer (such a text is not logged).
std::string sock_error_text_local8(const std::wstring& text);
