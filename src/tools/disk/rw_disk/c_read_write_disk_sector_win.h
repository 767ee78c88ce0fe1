#pragma once
// Raw sector access to the disk that is presented to the remote computer: a
// whole block device (held exclusively while open) or a disk image file.
// Sectors are always 512 bytes; sector indexes are 32-bit.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>

class c_read_write_disk_sector_win
{
public:
    static constexpr uint32_t SECTOR_SIZE = 512;
    static constexpr int DRIVE_REMOVABLE = 2;

    // sysfs_root is where the kernel's sysfs is mounted ("/sys"); tests hand in a fake tree.
    explicit c_read_write_disk_sector_win(std::string sysfs_root = "/sys");
    ~c_read_write_disk_sector_win();
    c_read_write_disk_sector_win(const c_read_write_disk_sector_win&) = delete;
    c_read_write_disk_sector_win& operator=(const c_read_write_disk_sector_win&) = delete;

    // Opens a block device (the whole disk behind it, locked against local use)
    // or an image file. read_only opens everything without write access, so
    // every write fails. Anything else (a FIFO, a socket, a character device)
    // is refused without waiting for a peer.
    bool open(const std::string& path, bool read_only = false);
    // Why the last open failed, for the user ("cannot open ...: <system
    // reason>", "... is mounted", ...); empty after a successful open.
    std::string open_error() const;
    bool close();
    bool is_open() const;
    bool is_read_only() const;

    // The position is kept per calling thread, and transfers are positioned
    // (pread/pwrite), so a seek and the transfer after it cannot be split by
    // another thread using the same disk. A sector at or past the end fails
    // and leaves no valid position, so the next read or write fails too.
    bool seek(uint32_t sector);
    bool read(void* buf, uint32_t count, uint32_t* bytes_read);
    bool write(const void* buf, uint32_t count, uint32_t* bytes_written);

    uint32_t sector_count() const;

    // Since the last open: bytes moved, and the writes that failed locally
    // (a read-only mapping, a full or failing medium) with the first reason.
    uint64_t bytes_read() const { return m_bytes_read.load(); }
    uint64_t bytes_written() const { return m_bytes_written.load(); }
    uint64_t write_failures() const { return m_write_failures.load(); }
    std::string first_write_error() const;
    // The calling thread's last seek (0 when it has not sought since open).
    uint32_t current_sector() const;

    // Device path ("/dev/<name>") of the whole disk that holds the block device
    // major:minor, found through <sysfs_root>/dev/block/<major>:<minor>; empty
    // when sysfs does not know it.
    static std::string whole_disk_path(const std::string& sysfs_root, unsigned major, unsigned minor);

private:
    struct position
    {
        uint32_t sector = 0;
        bool valid = true;
    };
    position current_position() const;
    // Byte offset of the calling thread's position and how many of count bytes
    // fit before the end of the disk; false when closed or the position is
    // invalid. The caller holds m_state_lock.
    bool transfer_span(uint32_t count, uint64_t* offset, uint64_t* want) const;
    void close_locked();
    void note_write_failure(int err);
    bool open_locked(const std::string& path, bool read_only);

    const std::string m_sysfs_root;
    // Exclusive for open/close, shared for transfers: a close never pulls the
    // descriptor away from a transfer in progress.
    mutable std::shared_mutex m_state_lock;
    bool m_open = false;
    bool m_read_only = false;
    bool m_block_device = false;
    int m_phy_fd = -1;     // whole disk or image file; every transfer uses it
    int m_volume_fd = -1;  // the path as given, when it is a block device
    uint32_t m_sector_count = 0;

    std::string m_open_error;  // guarded by m_state_lock
    std::atomic<uint64_t> m_bytes_read{0};
    std::atomic<uint64_t> m_bytes_written{0};
    std::atomic<uint64_t> m_write_failures{0};
    mutable std::mutex m_error_lock;
    std::string m_first_write_error;

    mutable std::mutex m_pos_lock;
    std::unordered_map<std::thread::id, position> m_positions;
};

// Removable whole disks with media: "/dev/<name>" -> DRIVE_REMOVABLE, from
// <sysfs_root>/block/<name>/{removable,size}.
std::map<std::string, int> list_removable_drives(const std::string& sysfs_root = "/sys");
