#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#ifndef KVM_SRC_PREFIX_LEN
#define KVM_SRC_PREFIX_LEN 0
#endif

namespace {

// The source root is the leading KVM_SRC_PREFIX_LEN characters of this very
// file's path; a path that starts with the same text is shown relative to it.
const char* relative_source_path(const char* file)
{
    static const char* const self = __FILE__;
    const size_t n = KVM_SRC_PREFIX_LEN;
    if (!file || n == 0 || std::strlen(self) <= n)
        return file ? file : "";
    // A compiler cache may hand the compiler paths relative to the build
    // directory: what follows the leading "../" is relative to the root.
    if (std::strncmp(file, "../", 3) == 0) {
        while (std::strncmp(file, "../", 3) == 0)
            file += 3;
        return file;
    }
    if (std::strlen(file) > n && std::strncmp(file, self, n) == 0)
        return file + n;
    return file;
}

}  // namespace

void log_format_statement(char* buf, unsigned size, const char* file, int line, const char* fmt, ...)
{
    if (!buf || size == 0)
        return;
    buf[0] = '\0';
    int n = 0;
    if (fmt) {
        va_list ap;
        va_start(ap, fmt);
        n = std::vsnprintf(buf, size, fmt, ap);
        va_end(ap);
        if (n < 0) {
            buf[0] = '\0';
            n = 0;
        }
    }
    size_t used = static_cast<size_t>(n) >= size ? size - 1 : static_cast<size_t>(n);
    std::snprintf(buf + used, size - used, " ( %s ) : %d", relative_source_path(file), line);
}
