#pragma once
// Scratch space for tests: a private directory under the system temporary
// directory, removed with all it holds when the owner goes, and whole-file
// reads and writes for what tests put there.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

class TempDir
{
public:
    // prefix names the directory (prefix + six random characters) so a left-over
    // one shows which test made it.
    explicit TempDir(const std::string& prefix = "kvm_test_")
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (::mkdtemp(tmpl.data()) != nullptr)
            m_path = tmpl;
    }
    ~TempDir()
    {
        if (m_path.empty())
            return;
        std::error_code ec;
        // A test may have taken our own permissions away to provoke a failure.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The whole file as bytes; empty when it cannot be read.
inline std::string read_all(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Creates or truncates p (mode 0644) and writes all n bytes; false on any failure.
inline bool write_all(const std::filesystem::path& p, const void* data, size_t n)
{
    const int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const auto* b = static_cast<const uint8_t*>(data);
    bool ok = true;
    while (n > 0) {
        const ssize_t w = ::write(fd, b, n);
        if (w <= 0) {
            ok = false;
            break;
        }
        b += w;
        n -= static_cast<size_t>(w);
    }
    return ::close(fd) == 0 && ok;
}

inline bool write_all(const std::filesystem::path& p, const std::string& text)
{
    return write_all(p, text.data(), text.size());
}
