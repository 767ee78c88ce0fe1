#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "log/log.h"

namespace fs = std::filesystem;

namespace
{
// sysfs spells '/' in device names as '!' (cciss!c0d0 is /dev/cciss/c0d0).
std::string dev_path_of(std::string name)
{
    std::replace(name.begin(), name.end(), '!', '/');
    return "/dev/" + name;
}

bool read_first_line(const fs::path& file, std::string& out)
{
    std::ifstream in(file);
    if (!in)
        return false;
    std::getline(in, out);
    return true;
}

// Whether the disk or one of its partitions is a mount's source.
bool is_mounted(const std::string& disk)
{
    std::ifstream mounts("/proc/self/mounts");
    std::string source, rest;
    while (mounts >> source && std::getline(mounts, rest))
    {
        if (source.compare(0, disk.size(), disk) != 0)
            continue;
        // "/dev/sdb" owns "/dev/sdb1" and "/dev/loop1" owns "/dev/loop1p2",
        // but "/dev/loop1" does not own "/dev/loop10".
        std::string tail = source.substr(disk.size());
        if (!tail.empty() && std::isdigit(static_cast<unsigned char>(disk.back())))
        {
            if (tail[0] != 'p')
                continue;
            tail.erase(0, 1);
        }
        if (std::all_of(tail.begin(), tail.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return true;
    }
    return false;
}

bool close_fd(int& fd)
{
    if (fd < 0)
        return false;
    ::close(fd);
    fd = -1;
    return true;
}
}  // namespace

c_read_write_disk_sector_win::c_read_write_disk_sector_win(std::string sysfs_root)
    : m_sysfs_root(std::move(sysfs_root))
{
}

c_read_write_disk_sector_win::~c_read_write_disk_sector_win()
{
    std::unique_lock<std::shared_mutex> guard(m_state_lock);
    if (m_phy_fd >= 0 || m_volume_fd >= 0)
        close_locked();
}

std::string c_read_write_disk_sector_win::whole_disk_path(const std::string& sysfs_root, unsigned major,
                                                          unsigned minor)
{
    std::error_code ec;
    const fs::path link = fs::path(sysfs_root) / "dev" / "block" /
                          (std::to_string(major) + ":" + std::to_string(minor));
    fs::path dir = fs::canonical(link, ec);
    if (ec || !fs::is_directory(dir, ec))
        return std::string();
    // A partition's directory sits inside its disk's and carries a "partition" file.
    if (fs::exists(dir / "partition", ec))
        dir = dir.parent_path();
    const std::string name = dir.filename().string();
    if (name.empty())
        return std::string();
    return dev_path_of(name);
}

bool c_read_write_disk_sector_win::open(const std::string& path, bool read_only)
{
    close();
    std::unique_lock<std::shared_mutex> guard(m_state_lock);
    LOG_INFO("try open disk!");
    if (open_locked(path, read_only))
        return true;
    close_locked();
    return false;
}

bool c_read_write_disk_sector_win::open_locked(const std::string& path, bool read_only)
{
    const int access = (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY;
    m_open_error.clear();
    m_bytes_read = 0;
    m_bytes_written = 0;
    m_write_failures = 0;
    {
        std::lock_guard<std::mutex> g(m_error_lock);
        m_first_write_error.clear();
    }

    // Non-blocking, so that a FIFO without a writer (or a terminal) cannot
    // hold the caller, the GUI thread, inside open(); the flag is dropped
    // once the file is known to be a disk or an image.
    int fd = ::open(path.c_str(), access | O_NONBLOCK);
    struct stat st;
    int err = 0;
    if (fd < 0)
    {
        err = errno;
        m_open_error = "cannot open " + path + ": " + strerror(err);
    }
    else if (::fstat(fd, &st) != 0)
    {
        err = errno;
        m_open_error = "cannot open " + path + ": " + strerror(err);
    }
    else if (!(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    {
        err = ENODEV;
        const char* kind = S_ISDIR(st.st_mode)    ? "a directory"
                           : S_ISFIFO(st.st_mode) ? "a FIFO"
                           : S_ISSOCK(st.st_mode) ? "a socket"
                           : S_ISCHR(st.st_mode)  ? "a character device"
                                                  : "not a regular file";
        m_open_error = "cannot open " + path + ": " + kind + ", neither a disk nor a disk image";
    }
    else
    {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        {
            err = errno;
            m_open_error = "cannot open " + path + ": " + strerror(err);
        }
    }
    if (err != 0)
    {
        close_fd(fd);
        LOG_ERROR("%s", path.c_str());
        LOG_ERROR("open disk failed!");
        LOG_DEBUG("%s", m_open_error.c_str());
        errno = err;
        return false;
    }

    uint64_t length = 0;
    if (S_ISREG(st.st_mode))
    {
        // A disk image: no volume to lock, the file itself is the disk.
        m_phy_fd = fd;
        m_block_device = false;
        length = static_cast<uint64_t>(st.st_size);
    }
    else
    {
        m_volume_fd = fd;
        m_block_device = true;

        const std::string disk = whole_disk_path(m_sysfs_root, major(st.st_rdev), minor(st.st_rdev));
        if (disk.empty())
        {
            m_open_error = "cannot open " + path + ": the system does not name the disk it belongs to";
            LOG_ERROR("IOCTL_STORAGE_GET_DEVICE_NUMBER failed!");
            return false;
        }

        // The exclusive open is the lock: the kernel refuses it while the disk
        // or any of its partitions is mounted or claimed by another program.
        m_phy_fd = ::open(disk.c_str(), access | O_EXCL);
        if (m_phy_fd < 0)
        {
            const int err = errno;
            if (err == EBUSY)
            {
                LOG_ERROR("FSCTL_LOCK_VOLUME failed!");
                m_open_error = is_mounted(disk) ? "cannot lock " + disk + ": it is mounted (" + strerror(err) + ")"
                                                : "cannot lock " + disk + ": " + strerror(err);
            }
            else
            {
                LOG_ERROR("open phyHandle failed!");
                m_open_error = "cannot open " + disk + ": " + strerror(err);
            }
            LOG_DEBUG("open %s: %s", disk.c_str(), strerror(err));
            return false;
        }

        if (::ioctl(m_phy_fd, BLKGETSIZE64, &length) != 0)
        {
            m_open_error = "cannot read the size of " + disk + ": " + strerror(errno);
            LOG_ERROR("IOCTL_DISK_GET_LENGTH_INFO failed!");
            return false;
        }
    }

    // Sector indexes are 32-bit: a disk beyond 2 TiB is served up to the last
    // addressable sector rather than wrapping around.
    const uint64_t sectors = length / SECTOR_SIZE;
    m_sector_count = sectors > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sectors);
    m_read_only = read_only;
    m_open = true;
    {
        std::lock_guard<std::mutex> pos_guard(m_pos_lock);
        m_positions.clear();
    }
    LOG_INFO("have open disk!");
    return true;
}

std::string c_read_write_disk_sector_win::open_error() const
{
    std::shared_lock<std::shared_mutex> guard(m_state_lock);
    return m_open_error;
}

std::string c_read_write_disk_sector_win::first_write_error() const
{
    std::lock_guard<std::mutex> g(m_error_lock);
    return m_first_write_error;
}

void c_read_write_disk_sector_win::note_write_failure(int err)
{
    if (m_write_failures++ == 0)
    {
        std::lock_guard<std::mutex> g(m_error_lock);
        m_first_write_error = strerror(err);
    }
}

bool c_read_write_disk_sector_win::close()
{
    std::unique_lock<std::shared_mutex> guard(m_state_lock);
    close_locked();
    return true;
}

void c_read_write_disk_sector_win::close_locked()
{
    LOG_INFO("closing disk!");
    // What the remote computer wrote must reach the medium, and the local
    // system must forget what it cached so that it reads the new contents.
    if (m_phy_fd >= 0)
        ::fsync(m_phy_fd);
    if (m_volume_fd >= 0)
    {
        ::ioctl(m_volume_fd, BLKFLSBUF, 0);
        close_fd(m_volume_fd);
    }
    if (m_phy_fd >= 0)
    {
        if (m_block_device)
        {
            ::ioctl(m_phy_fd, BLKFLSBUF, 0);
            ::ioctl(m_phy_fd, BLKRRPART, 0);
        }
        close_fd(m_phy_fd);
    }
    m_open = false;
    m_read_only = false;
    m_block_device = false;
    m_sector_count = 0;
    std::lock_guard<std::mutex> pos_guard(m_pos_lock);
    m_positions.clear();
}

bool c_read_write_disk_sector_win::is_open() const
{
    std::shared_lock<std::shared_mutex> guard(m_state_lock);
    return m_open;
}

bool c_read_write_disk_sector_win::is_read_only() const
{
    std::shared_lock<std::shared_mutex> guard(m_state_lock);
    return m_read_only;
}

uint32_t c_read_write_disk_sector_win::sector_count() const
{
    std::shared_lock<std::shared_mutex> guard(m_state_lock);
    return m_sector_count;
}

c_read_write_disk_sector_win::position c_read_write_disk_sector_win::current_position() const
{
    std::lock_guard<std::mutex> pos_guard(m_pos_lock);
    auto it = m_positions.find(std::this_thread::get_id());
    return it == m_positions.end() ? position() : it->second;
}

bool c_read_write_disk_sector_win::transfer_span(uint32_t count, uint64_t* offset, uint64_t* want) const
{
    if (!m_open)
        return false;
    const position pos = current_position();
    if (!pos.valid)
        return false;
    *offset = static_cast<uint64_t>(pos.sector) * SECTOR_SIZE;
    const uint64_t end = static_cast<uint64_t>(m_sector_count) * SECTOR_SIZE;
    *want = std::min<uint64_t>(count, end - *offset);
    return true;
}

uint32_t c_read_write_disk_sector_win::current_sector() const
{
    return current_position().sector;
}

bool c_read_write_disk_sector_win::seek(uint32_t sector)
{
    std::shared_lock<std::shared_mutex> guard(m_state_lock);
    if (!m_open)
        return false;
    position pos;
    pos.sector = sector;
    pos.valid = sector < m_sector_count;
    std::lock_guard<std::mutex> pos_guard(m_pos_lock);
    m_positions[std::this_thread::get_id()] = pos;
    return pos.valid;
}

bool c_read_write_disk_sector_win::read(void* buf, uint32_t count, uint32_t* bytes_read)
{
    if (bytes_read)
        *bytes_read = 0;
    std::shared_lock<std::shared_mutex> guard(m_state_lock);
    // Never past the end of the disk: an image file is read up to its last sector.
    uint64_t offset = 0, want = 0;
    if (!transfer_span(count, &offset, &want))
        return false;

    uint64_t done = 0;
    while (done < want)
    {
        const ssize_t n = ::pread(m_phy_fd, static_cast<char*>(buf) + done, want - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            if (bytes_read)
                *bytes_read = static_cast<uint32_t>(done);
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<uint64_t>(n);
    }
    m_bytes_read += done;
    if (bytes_read)
        *bytes_read = static_cast<uint32_t>(done);
    return true;
}

bool c_read_write_disk_sector_win::write(const void* buf, uint32_t count, uint32_t* bytes_written)
{
    if (bytes_written)
        *bytes_written = 0;
    std::shared_lock<std::shared_mutex> guard(m_state_lock);
    // An image file must never grow: only what fits before the last sector is written.
    uint64_t offset = 0, want = 0;
    if (!transfer_span(count, &offset, &want))
    {
        note_write_failure(m_open ? EINVAL : EBADF);
        return false;
    }

    uint64_t done = 0;
    int err = 0;
    while (done < want)
    {
        const ssize_t n = ::pwrite(m_phy_fd, static_cast<const char*>(buf) + done, want - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        if (n == 0)
        {
            err = ENOSPC;
            break;
        }
        done += static_cast<uint64_t>(n);
    }
    if (done == 0 && count > 0 && err == 0)
        err = ENOSPC;
    if (bytes_written)
        *bytes_written = static_cast<uint32_t>(done);
    m_bytes_written += done;
    if (err != 0)
        note_write_failure(err);
    if (err != 0 && done == 0)
    {
        LOG_ERROR("write dist error, error code is %d", err);
        errno = err;
        return false;
    }
    return true;
}

std::map<std::string, int> list_removable_drives(const std::string& sysfs_root)
{
    std::map<std::string, int> drives;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(sysfs_root) / "block", ec), end; !ec && it != end;
         it.increment(ec))
    {
        const fs::path dir = it->path();
        std::string removable, size;
        if (!read_first_line(dir / "removable", removable) || removable != "1")
            continue;
        // A card reader without a card reports size 0: nothing to map.
        if (!read_first_line(dir / "size", size) || size.empty() || size == "0")
            continue;
        drives[dev_path_of(dir.filename().string())] = c_read_write_disk_sector_win::DRIVE_REMOVABLE;
    }
    return drives;
}
