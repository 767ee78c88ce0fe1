// Disk layer on image files, on a fake sysfs tree and, where the machine
// allows it, on real loop devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/log_capture.h"
#include "common/temp_dir.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

namespace fs = std::filesystem;
using disk_t = c_read_write_disk_sector_win;

namespace
{
// A sparse file of the given size whose sector i (for the first `marked`
// sectors) is filled with the byte (i & 0xFF) ^ 0x5A.
std::string make_image(const fs::path& file, uint64_t size, unsigned marked = 0)
{
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(0, ::ftruncate(fd, static_cast<off_t>(size)));
    std::vector<unsigned char> sector(512);
    for (unsigned i = 0; i < marked; ++i)
    {
        std::fill(sector.begin(), sector.end(), static_cast<unsigned char>((i & 0xFF) ^ 0x5A));
        EXPECT_EQ(512, ::pwrite(fd, sector.data(), 512, static_cast<off_t>(i) * 512));
    }
    ::close(fd);
    return file.string();
}

std::vector<unsigned char> file_bytes(const fs::path& file, uint64_t offset, size_t n)
{
    std::vector<unsigned char> out(n);
    int fd = ::open(file.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(static_cast<ssize_t>(n), ::pread(fd, out.data(), n, static_cast<off_t>(offset)));
    ::close(fd);
    return out;
}

size_t count_lines(LogCapture& log, const std::string& text)
{
    size_t n = 0;
    for (const auto& line : log.lines())
        if (std::string(line).find(text) != std::string::npos)
            ++n;
    return n;
}

void write_text(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

int run(const std::string& cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

std::string run_output(const std::string& cmd)
{
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p))
        out += buf;
    ::pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}
}  // namespace

TEST(Disk, ImageSizeGivesSectorCountAndOpenLogs)
{
    LogCapture log;
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    disk_t disk;

    ASSERT_TRUE(disk.open(make_image(dir.path() / "stick.img", 4000000000ULL)));
    EXPECT_TRUE(disk.is_open());
    EXPECT_EQ(7812500u, disk.sector_count());
    EXPECT_TRUE(log.contains("try open disk!"));
    EXPECT_TRUE(log.contains("have open disk!"));

    // A tail shorter than one sector is not part of the disk.
    ASSERT_TRUE(disk.open(make_image(dir.path() / "odd.img", 512 * 3 + 100)));
    EXPECT_EQ(3u, disk.sector_count());
    EXPECT_FALSE(disk.seek(3));
    EXPECT_TRUE(disk.seek(2));
    disk.close();
    EXPECT_EQ(0u, disk.sector_count());
}

TEST(Disk, SeekBeyondFourGibReadsAndWritesThere)
{
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    const fs::path img = dir.path() / "big.img";
    make_image(img, 5ULL << 30);
    disk_t disk;
    ASSERT_TRUE(disk.open(img.string()));

    ASSERT_TRUE(disk.seek(8388608u));
    EXPECT_EQ(8388608u, disk.current_sector());
    std::vector<unsigned char> out(512), in(512);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<unsigned char>(i * 7 + 1);
    uint32_t n = 0;
    ASSERT_TRUE(disk.write(out.data(), 512, &n));
    EXPECT_EQ(512u, n);
    // The bytes sit at exactly 4 GiB in the file, not at a wrapped 32-bit offset.
    EXPECT_EQ(out, file_bytes(img, 4ULL << 30, 512));
    EXPECT_EQ(std::vector<unsigned char>(512, 0), file_bytes(img, 0, 512));

    ASSERT_TRUE(disk.seek(8388608u));
    ASSERT_TRUE(disk.read(in.data(), 512, &n));
    EXPECT_EQ(512u, n);
    EXPECT_EQ(out, in);
}

TEST(Disk, TransfersOnClosedDiskFailAndCloseAlwaysLogs)
{
    LogCapture log;
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    const std::string img = make_image(dir.path() / "a.img", 64 * 512, 64);
    disk_t disk;
    unsigned char buf[512] = {};
    uint32_t n = 77;

    EXPECT_FALSE(disk.is_open());
    EXPECT_FALSE(disk.seek(0));
    EXPECT_FALSE(disk.read(buf, 512, &n));
    EXPECT_EQ(0u, n);
    EXPECT_FALSE(disk.write(buf, 512, &n));
    EXPECT_EQ(0u, n);

    ASSERT_TRUE(disk.open(img));
    log.clear();
    EXPECT_TRUE(disk.close());
    EXPECT_TRUE(disk.close());
    EXPECT_EQ(2u, count_lines(log, "closing disk!"));
    EXPECT_FALSE(disk.is_open());
    EXPECT_FALSE(disk.seek(1));
    EXPECT_FALSE(disk.read(buf, 512, &n));
    EXPECT_FALSE(disk.write(buf, 512, &n));
    // Nothing was written through the closed disk.
    EXPECT_EQ(std::vector<unsigned char>(512, 0x5A ^ 1), file_bytes(img, 512, 512));
}

TEST(Disk, NothingPastTheLastSectorIsReadOrWritten)
{
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    const fs::path img = dir.path() / "small.img";
    make_image(img, 16 * 512, 16);
    disk_t disk;
    ASSERT_TRUE(disk.open(img.string()));
    ASSERT_EQ(16u, disk.sector_count());

    std::vector<unsigned char> buf(1024, 0xEE);
    uint32_t n = 0;
    EXPECT_FALSE(disk.seek(16));
    EXPECT_FALSE(disk.seek(0xFFFFFFFFu));
    // The failed seek leaves no position: the transfer after it must not
    // silently land on the previous sector.
    EXPECT_FALSE(disk.write(buf.data(), 512, &n));
    EXPECT_FALSE(disk.read(buf.data(), 512, &n));
    EXPECT_EQ(16u * 512, fs::file_size(img));

    // A transfer that starts on the last sector stops at the end.
    ASSERT_TRUE(disk.seek(15));
    ASSERT_TRUE(disk.write(buf.data(), 1024, &n));
    EXPECT_EQ(512u, n);
    EXPECT_EQ(16u * 512, fs::file_size(img));
    ASSERT_TRUE(disk.seek(14));
    ASSERT_TRUE(disk.read(buf.data(), 1024, &n));
    EXPECT_EQ(1024u, n);
    EXPECT_EQ((14 ^ 0x5A), buf[0]);
    EXPECT_EQ(0xEE, buf[1023]);
    ASSERT_TRUE(disk.seek(15));
    std::vector<unsigned char> big(4096, 0);
    ASSERT_TRUE(disk.read(big.data(), 4096, &n));
    EXPECT_EQ(512u, n);
}

TEST(Disk, ReadOnlyRefusesWritesAndKeepsData)
{
    LogCapture log;
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    const fs::path img = dir.path() / "ro.img";
    make_image(img, 8 * 512, 8);
    const auto before = file_bytes(img, 0, 8 * 512);

    disk_t disk;
    ASSERT_TRUE(disk.open(img.string(), true));
    EXPECT_TRUE(disk.is_read_only());
    ASSERT_TRUE(disk.seek(3));
    std::vector<unsigned char> buf(512, 0x11);
    uint32_t n = 99;
    EXPECT_FALSE(disk.write(buf.data(), 512, &n));
    EXPECT_EQ(0u, n);
    EXPECT_TRUE(log.contains("write dist error, error code is " + std::to_string(EBADF)));
    ASSERT_TRUE(disk.read(buf.data(), 512, &n));
    EXPECT_EQ(512u, n);
    EXPECT_EQ(3 ^ 0x5A, buf[0]);
    disk.close();
    EXPECT_EQ(before, file_bytes(img, 0, 8 * 512));

    // Read-write again after a read-only session.
    ASSERT_TRUE(disk.open(img.string(), false));
    EXPECT_FALSE(disk.is_read_only());
    ASSERT_TRUE(disk.seek(3));
    ASSERT_TRUE(disk.write(buf.data(), 512, &n));
    EXPECT_EQ(512u, n);
}

TEST(Disk, OpenFailuresLogAndLeaveClosed)
{
    LogCapture log;
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    disk_t disk;
    const std::string missing = (dir.path() / "no_such_disk").string();

    EXPECT_FALSE(disk.open(missing));
    EXPECT_FALSE(disk.is_open());
    EXPECT_TRUE(log.contains(missing));
    EXPECT_TRUE(log.contains("open disk failed!"));

    // Neither a directory nor a character device is a disk.
    log.clear();
    EXPECT_FALSE(disk.open(dir.path().string(), true));
    EXPECT_TRUE(log.contains("open disk failed!"));
    log.clear();
    EXPECT_FALSE(disk.open("/dev/null"));
    EXPECT_TRUE(log.contains("open disk failed!"));
    EXPECT_FALSE(disk.is_open());
    EXPECT_FALSE(disk.seek(0));

    // A failed open also releases the disk that was open before.
    ASSERT_TRUE(disk.open(make_image(dir.path() / "x.img", 4 * 512)));
    EXPECT_FALSE(disk.open(missing));
    EXPECT_FALSE(disk.is_open());
}

TEST(Disk, SeekAndTransferStayTogetherPerThread)
{
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    disk_t disk;
    ASSERT_TRUE(disk.open(make_image(dir.path() / "t.img", 64 * 512, 64)));

    // The reader seeks, then another thread seeks elsewhere and writes before
    // the reader reads: the reader must still get its own sector.
    ASSERT_TRUE(disk.seek(10));
    std::thread writer([&] {
        std::vector<unsigned char> w(512, 0xC3);
        uint32_t n = 0;
        EXPECT_TRUE(disk.seek(20));
        EXPECT_TRUE(disk.write(w.data(), 512, &n));
        EXPECT_EQ(20u, disk.current_sector());
    });
    writer.join();
    EXPECT_EQ(10u, disk.current_sector());
    std::vector<unsigned char> r(512);
    uint32_t n = 0;
    ASSERT_TRUE(disk.read(r.data(), 512, &n));
    EXPECT_EQ(std::vector<unsigned char>(512, 10 ^ 0x5A), r);
    ASSERT_TRUE(disk.seek(20));
    ASSERT_TRUE(disk.read(r.data(), 512, &n));
    EXPECT_EQ(std::vector<unsigned char>(512, 0xC3), r);
}

TEST(Disk, FakeSysfsResolvesPartitionsAndListsRemovableDisks)
{
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    const fs::path sys = dir.path() / "sys";
    const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-1/host6/block";
    write_text(usb / "sdb/dev", "8:16");
    write_text(usb / "sdb/removable", "1");
    write_text(usb / "sdb/size", "7812500");
    write_text(usb / "sdb/sdb1/dev", "8:17");
    write_text(usb / "sdb/sdb1/partition", "1");
    write_text(usb / "sdb/sdb1/size", "7810000");
    const fs::path ata = sys / "devices/pci0000:00/ata1/block";
    write_text(ata / "sda/dev", "8:0");
    write_text(ata / "sda/removable", "0");
    write_text(ata / "sda/size", "1000000");
    write_text(ata / "sda/sda2/dev", "8:2");
    write_text(ata / "sda/sda2/partition", "2");
    const fs::path reader = sys / "devices/platform/reader/block";
    write_text(reader / "sdc/removable", "1");
    write_text(reader / "sdc/size", "0");  // card reader with no card
    write_text(reader / "cciss!c0d0/removable", "1");
    write_text(reader / "cciss!c0d0/size", "2048");
    write_text(reader / "cciss!c0d0/cciss!c0d0p1/partition", "1");

    fs::create_directories(sys / "block");
    fs::create_directories(sys / "dev/block");
    auto link = [&](const fs::path& target, const fs::path& at) {
        fs::create_directory_symlink(fs::relative(target, at.parent_path()), at);
    };
    link(usb / "sdb", sys / "block/sdb");
    link(ata / "sda", sys / "block/sda");
    link(reader / "sdc", sys / "block/sdc");
    link(reader / "cciss!c0d0", sys / "block/cciss!c0d0");
    link(usb / "sdb", sys / "dev/block/8:16");
    link(usb / "sdb/sdb1", sys / "dev/block/8:17");
    link(ata / "sda/sda2", sys / "dev/block/8:2");
    link(reader / "cciss!c0d0/cciss!c0d0p1", sys / "dev/block/104:1");

    EXPECT_EQ("/dev/sdb", disk_t::whole_disk_path(sys.string(), 8, 17));
    EXPECT_EQ("/dev/sdb", disk_t::whole_disk_path(sys.string(), 8, 16));
    EXPECT_EQ("/dev/sda", disk_t::whole_disk_path(sys.string(), 8, 2));
    EXPECT_EQ("/dev/cciss/c0d0", disk_t::whole_disk_path(sys.string(), 104, 1));
    EXPECT_EQ("", disk_t::whole_disk_path(sys.string(), 8, 33));

    const auto drives = list_removable_drives(sys.string());
    const std::map<std::string, int> expected{{"/dev/cciss/c0d0", 2}, {"/dev/sdb", 2}};
    EXPECT_EQ(expected, drives);
    EXPECT_TRUE(list_removable_drives((dir.path() / "nothing").string()).empty());
}

// Loop devices: real block devices, real sysfs, the kernel's exclusive claim.
namespace
{
struct loop_device
{
    std::string dev;
    std::string mount_point;
    explicit loop_device(const std::string& image)
    {
        dev = run_output("losetup -f --show '" + image + "' 2>/dev/null");
    }
    ~loop_device()
    {
        if (!mount_point.empty())
            ::umount2(mount_point.c_str(), MNT_DETACH);
        if (!dev.empty())
            run("losetup -d " + dev);
    }
};
}  // namespace

TEST(DiskLoop, WholeDiskOpensAndMountedDiskIsRefused)
{
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    const std::string img = make_image(dir.path() / "loop.img", 8 << 20);
    if (run("mkfs.ext2 -q -F '" + img + "'") != 0)
        GTEST_SKIP() << "mkfs.ext2 is not available; the exclusive-lock test needs it";
    loop_device loop(img);
    if (loop.dev.rfind("/dev/loop", 0) != 0)
        GTEST_SKIP() << "no loop device available here (losetup failed); lock test skipped";

    LogCapture log;
    {
        // Unmounted: the whole disk opens, its size comes from the device.
        disk_t disk;
        ASSERT_TRUE(disk.open(loop.dev));
        EXPECT_EQ((8u << 20) / 512, disk.sector_count());
        std::vector<unsigned char> sb(512);
        uint32_t n = 0;
        ASSERT_TRUE(disk.seek(2));  // ext2 superblock at byte 1024, magic at +56
        ASSERT_TRUE(disk.read(sb.data(), 512, &n));
        EXPECT_EQ(0x53, sb[56]);
        EXPECT_EQ(0xEF, sb[57]);
        // A second opener of the same disk is refused while it is held.
        disk_t other;
        EXPECT_FALSE(other.open(loop.dev));
        EXPECT_TRUE(log.contains("FSCTL_LOCK_VOLUME failed!"));
        disk.close();
        EXPECT_TRUE(other.open(loop.dev));
    }

    const std::string mnt = (dir.path() / "mnt").string();
    fs::create_directories(mnt);
    if (::mount(loop.dev.c_str(), mnt.c_str(), "ext2", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount ext2 on " << loop.dev << " (" << strerror(errno)
                     << "); mounted-disk lock test skipped";
    loop.mount_point = mnt;

    log.clear();
    disk_t disk;
    EXPECT_FALSE(disk.open(loop.dev));
    EXPECT_FALSE(disk.is_open());
    EXPECT_TRUE(log.contains("FSCTL_LOCK_VOLUME failed!"));
    EXPECT_FALSE(disk.seek(0));

    ASSERT_EQ(0, ::umount(mnt.c_str()));
    loop.mount_point.clear();
    EXPECT_TRUE(disk.open(loop.dev));
}

TEST(Disk, FifoSocketAndCharacterDeviceAreRefusedAtOnceWithTheReason)
{
    // The open runs on the GUI thread: a FIFO without a writer must not hold
    // it. Each open gets 5 s; one that blocks is freed by a writer and fails.
    TempDir dir("kvm_disk_test_");
    ASSERT_TRUE(dir.ok());
    const std::string fifo = (dir.path() / "pipe").string();
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const std::string sock = (dir.path() / "sock").string();
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(0, ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));

    struct
    {
        std::string path;
        bool read_only;
        const char* reason;
    } cases[] = {{fifo, true, "a FIFO"},
                 {fifo, false, "a FIFO"},
                 {"/dev/zero", true, "a character device"},
                 {sock, false, "No such device or address"},
                 {(dir.path() / "missing.img").string(), false, "No such file or directory"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        disk_t disk;
        auto opened = std::async(std::launch::async, [&] { return disk.open(c.path, c.read_only); });
        if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        {
            const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            opened.wait();
            if (w >= 0)
                ::close(w);
            ADD_FAILURE() << "open blocked";
        }
        EXPECT_FALSE(opened.get());
        EXPECT_FALSE(disk.is_open());
        EXPECT_NE(std::string::npos, disk.open_error().find(c.reason)) << disk.open_error();
        EXPECT_NE(std::string::npos, disk.open_error().find(c.path)) << disk.open_error();
    }
    ::close(s);

    // A regular file still opens, and the reason is cleared.
    disk_t disk;
    EXPECT_FALSE(disk.open(fifo));
    ASSERT_TRUE(disk.open(make_image(dir.path() / "ok.img", 8 * 512)));
    EXPECT_EQ("", disk.open_error());
}
