// A child process crashes on purpose; the crash record appears beside its
// executable and the process still dies by the signal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct ChildResult
{
    int status = 0;
    bool finished = false;
    std::string err;
};

// Runs exe with one argument, as uid when uid >= 0; waits at most 30 s.
ChildResult run_child(const fs::path& exe, const char* arg, const fs::path& err_file, int uid = -1)
{
    ChildResult r;
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);  // no core files from the intended crashes
        int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd >= 0) {
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        if (uid >= 0 && (setgid(uid) != 0 || setuid(uid) != 0))
            _exit(120);
        execl(exe.c_str(), exe.c_str(), arg, static_cast<char*>(nullptr));
        _exit(121);
    }
    if (pid < 0)
        return r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t w = waitpid(pid, &r.status, WNOHANG);
        if (w == pid) {
            r.finished = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!r.finished) {
        kill(pid, SIGKILL);
        waitpid(pid, &r.status, 0);
    }
    r.err = read_all(err_file);
    return r;
}

class CrashRecord : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.ok());
        dir = tmp.path();
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        exe = dir / "crash_child";
        fs::copy_file(KVM_CRASH_CHILD_EXE, exe);
        fs::permissions(exe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        errs = fs::temp_directory_path() / (dir.filename().string() + ".stderr");
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove(errs, ec);
    }
    TempDir tmp{"kvm_crash_"};
    fs::path dir, exe, errs;
};

}  // namespace

TEST_F(CrashRecord, NullWriteLeavesRecordReplacingAnOlderOne)
{
    std::ofstream(dir / "crash.dat") << "OLD RECORD FROM AN EARLIER CRASH";
    ChildResult r = run_child(exe, "segv", errs);
    ASSERT_TRUE(r.finished);
    ASSERT_TRUE(WIFSIGNALED(r.status)) << r.status;
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
    EXPECT_NE(r.err.find("Fatal Error"), std::string::npos);

    std::string rec = read_all(dir / "crash.dat");
    EXPECT_EQ(rec.find("OLD RECORD"), std::string::npos);
    EXPECT_NE(rec.find("signal: 11 SIGSEGV"), std::string::npos) << rec;
    EXPECT_NE(rec.find("fault address: 0x0\n"), std::string::npos) << rec;
    EXPECT_NE(rec.find("backtrace:\n"), std::string::npos);
    // The memory map names the crashed executable.
    EXPECT_NE(rec.find("maps:\n"), std::string::npos);
    EXPECT_NE(rec.find(exe.string()), std::string::npos);
}

TEST_F(CrashRecord, FifoAtTheRecordsNameDoesNotHoldTheCrash)
{
    // Nobody reads the FIFO: a blocking open would never return, and a
    // process in a signal handler cannot be ended by SIGTERM.
    ASSERT_EQ(::mkfifo((dir / "crash.dat").c_str(), 0600), 0);
    ChildResult r = run_child(exe, "segv", errs);
    ASSERT_TRUE(r.finished);
    ASSERT_TRUE(WIFSIGNALED(r.status)) << r.status;
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
    EXPECT_TRUE(fs::is_fifo(dir / "crash.dat"));
}

TEST_F(CrashRecord, OtherThreadsAndOtherSignals)
{
    struct Case
    {
        const char* how;
        int sig;
        const char* name;
    };
    // A worker's stack overflow is recorded only when the worker has an
    // alternate signal stack of its own.
    for (const Case& c : {Case{"segv-thread", SIGSEGV, "SIGSEGV"}, Case{"overflow-worker", SIGSEGV, "SIGSEGV"},
                          Case{"abort", SIGABRT, "SIGABRT"},
                          Case{"fpe", SIGFPE, "SIGFPE"}}) {
        fs::remove(dir / "crash.dat");
        ChildResult r = run_child(exe, c.how, errs);
        ASSERT_TRUE(r.finished) << c.how;
        ASSERT_TRUE(WIFSIGNALED(r.status)) << c.how;
        EXPECT_EQ(WTERMSIG(r.status), c.sig) << c.how;
        EXPECT_NE(r.err.find("Fatal Error"), std::string::npos) << c.how;
        EXPECT_NE(read_all(dir / "crash.dat").find(c.name), std::string::npos) << c.how;
    }
    // No crash, no record.
    fs::remove(dir / "crash.dat");
    ChildResult ok = run_child(exe, "none", errs);
    ASSERT_TRUE(ok.finished);
    EXPECT_TRUE(WIFEXITED(ok.status));
    EXPECT_EQ(WEXITSTATUS(ok.status), 0);
    EXPECT_FALSE(fs::exists(dir / "crash.dat"));
    EXPECT_EQ(ok.err.find("Fatal Error"), std::string::npos);
}

TEST_F(CrashRecord, UnwritableDirectoryLeavesNothingAndEndsTheSameWay)
{
    // Root ignores directory permissions, so as root the child runs as "nobody".
    int uid = -1;
    if (geteuid() == 0) {
        struct passwd* pw = getpwnam("nobody");
        ASSERT_NE(pw, nullptr);
        uid = static_cast<int>(pw->pw_uid);
    }
    fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    ChildResult r = run_child(exe, "segv", errs, uid);
    ASSERT_TRUE(r.finished);
    ASSERT_TRUE(WIFSIGNALED(r.status)) << r.status;
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
    EXPECT_NE(r.err.find("Fatal Error"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "crash.dat"));
}
