// The logger written against real files in a temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/log_capture.h"
#include "common/temp_dir.h"
#include "log/CLogerManager.h"
#include "log/log.h"

namespace fs = std::filesystem;

namespace {

// Every regular file under dir, keyed by its path relative to dir.
std::map<std::string, std::string> files_under(const fs::path& dir)
{
    std::map<std::string, std::string> out;
    if (!fs::exists(dir))
        return out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            out[fs::relative(e.path(), dir).string()] = read_all(e.path());
    return out;
}

// Milliseconds since 1970 for a UTC calendar time (the tests run with TZ=UTC).
int64_t utc_ms(int y, int mo, int d, int h, int mi, int s, int ms)
{
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return static_cast<int64_t>(timegm(&t)) * 1000 + ms;
}

std::string pid_text()
{
    char b[32];
    std::snprintf(b, sizeof b, "%06d", static_cast<int>(getpid()));
    return b;
}

class LoggerFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        ASSERT_TRUE(tmp.ok());
        dir = tmp.path();
    }
    // A started manager of our own, silent on the console, writing under dir/sub.
    void start(CLogerManager& m, const std::string& sub = "log")
    {
        m.set_logger_display(0, false);
        m.set_logger_path(0, (dir / sub).c_str());
        ASSERT_TRUE(m.start());
    }
    TempDir tmp{"kvm_logtest_"};
    fs::path dir;
};

}  // namespace

TEST_F(LoggerFiles, IdleManagerWritesNothingAndLevelsBelowTheLoggerAreDropped)
{
    CLogerManager m;
    m.set_logger_display(0, false);
    m.set_logger_path(0, (dir / "log").c_str());
    // Idle: nothing enabled, nothing written, no directory created.
    EXPECT_FALSE(m.is_logger_enabled(0, LOG_LEVEL_FATAL));
    EXPECT_FALSE(m.push_log(0, LOG_LEVEL_FATAL, "idle"));
    EXPECT_FALSE(fs::exists(dir / "log"));

    ASSERT_TRUE(m.start());
    EXPECT_EQ(m.active_logger_count(), 1);
    ASSERT_TRUE(m.set_logger_level(0, LOG_LEVEL_WARN));
    unsigned long long lines = m.total_lines(), bytes = m.total_bytes();
    EXPECT_FALSE(m.is_logger_enabled(0, LOG_LEVEL_INFO));
    EXPECT_FALSE(m.push_log(0, LOG_LEVEL_INFO, "below the level"));
    EXPECT_EQ(m.total_lines(), lines);
    EXPECT_TRUE(m.push_log(0, LOG_LEVEL_WARN, "at the level"));
    EXPECT_EQ(m.total_lines(), lines + 1);
    EXPECT_GT(m.total_bytes(), bytes);
    EXPECT_EQ(m.bytes_waiting(), 0u);

    // Bad identifiers and levels are refused.
    EXPECT_FALSE(m.is_logger_enabled(10, LOG_LEVEL_FATAL));
    EXPECT_FALSE(m.is_logger_enabled(-1, LOG_LEVEL_FATAL));
    EXPECT_FALSE(m.set_logger_level(0, 7));
    EXPECT_FALSE(m.set_logger_level(10, 1));
    EXPECT_FALSE(m.set_logger_level(0, -1));
    EXPECT_EQ(m.logger_level(0), LOG_LEVEL_WARN);

    std::string all;
    for (const auto& f : files_under(dir / "log"))
        all += f.second;
    EXPECT_EQ(all.find("below the level"), std::string::npos);
    EXPECT_NE(all.find(" LOG_WARN  at the level \r\n"), std::string::npos);
    // The thread's start-up lines.
    EXPECT_NE(all.find("LOG_ALARM -----------------  logger thread started!   ----------------------------"),
              std::string::npos);
    EXPECT_NE(all.find("logger id=0 path=" + (dir / "log").string() + "/ name=test_logger level=1 display=0"),
              std::string::npos);

    ASSERT_TRUE(m.stop());
    EXPECT_FALSE(m.is_logger_enabled(0, LOG_LEVEL_FATAL));
    EXPECT_FALSE(m.push_log(0, LOG_LEVEL_FATAL, "after stop"));
}

TEST(LoggerStatements, DisabledLevelIsNotFormattedAndSourcePathIsRelative)
{
    LogCapture cap;
    CLogerManager::instance()->set_logger_level(0, LOG_LEVEL_ERROR);
    int evaluated = 0;
    LOG_WARN("%d", ++evaluated);
    EXPECT_EQ(evaluated, 0);
    EXPECT_FALSE(cap.contains("LOG_WARN "));
    LOG_ERROR("value %d", ++evaluated);
    EXPECT_EQ(evaluated, 1);
    int line = __LINE__ - 2;
    EXPECT_TRUE(cap.contains("LOG_ERROR value 1 ( tests/log/test_logger.cpp ) : " + std::to_string(line) + " \r\n"));
    CLogerManager::instance()->set_logger_level(0, LOG_LEVEL_TRACE);

    char buf[2048];
    log_format_statement(buf, sizeof buf, "/somewhere/else/x.cpp", 7, "n=%d", 3);
    EXPECT_STREQ(buf, "n=3 ( /somewhere/else/x.cpp ) : 7");

    // A message that fills the buffer is cut, terminated, and never overruns.
    std::string big(3000, 'x');
    char small[64];
    std::memset(small, '#', sizeof small);
    log_format_statement(small, 32, __FILE__, 1, "%s", big.c_str());
    EXPECT_EQ(std::strlen(small), 31u);
    EXPECT_EQ(small[32], '#');
}

TEST_F(LoggerFiles, LineFormatLongMessagesAndCounters)
{
    CLogerManager m;
    int64_t now = utc_ms(2024, 2, 29, 8, 5, 9, 7);
    m.set_clock_hook([&] { return now; });
    start(m);
    std::vector<std::string> seen;
    struct Ctx { std::vector<std::string>* v; } ctx{&seen};
    log_set_line_hook([](void* c, int, int, const char* l) { static_cast<Ctx*>(c)->v->emplace_back(l); }, &ctx);

    ASSERT_TRUE(m.push_log(0, LOG_LEVEL_INFO, "hello"));
    std::string big(3000, 'y');
    ASSERT_TRUE(m.push_log(0, LOG_LEVEL_FATAL, big.c_str()));
    log_set_line_hook(nullptr, nullptr);
    m.stop();

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "2024-02-29 08:05:09.007 LOG_INFO  hello \r\n");
    ASSERT_EQ(seen[1].size(), 2047u);
    EXPECT_EQ(seen[1].substr(0, 34), "2024-02-29 08:05:09.007 LOG_FATAL ");
    EXPECT_EQ(seen[1].substr(2045), "\r\n");
    EXPECT_EQ(seen[1].find_first_not_of('y', 34), 2045u);

    auto files = files_under(dir / "log");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.begin()->first, "test_logger_202402290805_" + pid_text() + "_000.log");
    const std::string& content = files.begin()->second;
    EXPECT_NE(content.find(seen[0]), std::string::npos);
    EXPECT_EQ(content.substr(content.size() - seen[1].size()), seen[1]);
    EXPECT_EQ(m.total_bytes(), content.size());
}

TEST_F(LoggerFiles, RollsBySizeAndAtMidnightIntoMonthDirectories)
{
    CLogerManager m;
    int64_t now = utc_ms(2025, 3, 4, 23, 59, 58, 0);
    m.set_clock_hook([&] { return now; });
    m.set_logger_monthdir(0, true);
    ASSERT_TRUE(m.set_logger_limitsize(0, 1));
    // The path is created level by level, backslashes taken as separators.
    start(m, "a\\b/c");
    const fs::path month = dir / "a" / "b" / "c" / "2025_03";

    // Fixed clock, so every line has the same length.
    std::string text(1000, 'z');
    unsigned long long before = m.total_bytes();
    ASSERT_TRUE(m.push_log(0, LOG_LEVEL_DEBUG, text.c_str()));
    const unsigned long long len = m.total_bytes() - before;
    const std::string name0 = "test_logger_202503042359_" + pid_text() + "_000.log";
    const std::string name1 = "test_logger_202503042359_" + pid_text() + "_001.log";
    auto size0 = [&] { return fs::file_size(month / name0); };
    while (size0() <= 1048576ULL)
        ASSERT_TRUE(m.push_log(0, LOG_LEVEL_DEBUG, text.c_str()));
    EXPECT_FALSE(fs::exists(month / name1));
    // The file grows past 1 MiB by less than one line before it rolls.
    EXPECT_LE(size0() - 1048576ULL, len);
    ASSERT_TRUE(m.push_log(0, LOG_LEVEL_DEBUG, "next index"));
    ASSERT_TRUE(fs::exists(month / name1));
    EXPECT_NE(read_all(month / name1).find("next index"), std::string::npos);
    EXPECT_EQ(read_all(month / name0).find("next index"), std::string::npos);

    // Just after midnight at the turn of the month: index 000 again, named after
    // the new time, in the new month's directory.
    now = utc_ms(2025, 4, 1, 0, 0, 0, 3);
    m.set_clock_hook([&] { return now; });
    ASSERT_TRUE(m.push_log(0, LOG_LEVEL_DEBUG, "new day"));
    const fs::path next = dir / "a" / "b" / "c" / "2025_04" / ("test_logger_202504010000_" + pid_text() + "_000.log");
    ASSERT_TRUE(fs::exists(next));
    EXPECT_EQ(read_all(next), "2025-04-01 00:00:00.003 LOG_DEBUG new day \r\n");
    EXPECT_EQ(read_all(month / name1).find("new day"), std::string::npos);

    // Limit 0 means no limit.
    ASSERT_TRUE(m.set_logger_limitsize(0, 0));
    EXPECT_EQ(m.logger_limitsize(0), -1);
    m.stop();
}

TEST_F(LoggerFiles, UnwritableDirectoryDropsLinesSilently)
{
    fs::path blocker = dir / "file";
    std::ofstream(blocker) << "not a directory";
    CLogerManager m;
    m.set_logger_display(0, false);
    m.set_logger_path(0, (blocker / "log").c_str());
    ASSERT_TRUE(m.start());
    unsigned long long lines = m.total_lines();
    EXPECT_TRUE(m.push_log(0, LOG_LEVEL_ERROR, "dropped"));
    EXPECT_EQ(m.total_lines(), lines);
    m.stop();
}

TEST_F(LoggerFiles, ConfigFileSettingsAndConsoleMessages)
{
    CLogerManager m;
    EXPECT_STREQ(m.default_config_text(),
                 "[FileConfig]\n#path=./log/\n#level=DEBUG\n#display=true\n#monthdir=false\n#limit=100\n");
    EXPECT_EQ(m.find_logger("Main"), 0);
    EXPECT_EQ(m.logger_name(0), "test_logger");
    EXPECT_EQ(m.logger_process(0), pid_text());

    const fs::path cfg = dir / "logger.cfg";
    std::ofstream(cfg) << "  # comment\n"
                          "orphan = 1\n"
                          "\n"
                          "[ MAIN ]\r\n"
                          "\tlevel = ALARM \n"
                          "display=0\n"
                          "path=" << (dir / "mainlog").string() << "\n"
                          "limit=5\n"
                          "no equals sign here\n"
                          "[Net]\n"
                          "level=warning\n"
                          "Display = FALSE\n"
                          "monthdir=yes\n"
                          "limitsize=7\n"
                          "[Net]\n"
                          "level=all\n";
    testing::internal::CaptureStdout();
    ASSERT_TRUE(m.config(cfg.c_str()));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("logger configure warning: not found current logger name:[] at line:2, key=orphan, value=1"),
              std::string::npos) << out;
    EXPECT_NE(out.find("logger configure warning: unresolved line:[no equals sign here] at line:9"),
              std::string::npos) << out;
    EXPECT_NE(out.find("logger configure warning: dumplicate logger name:[Net] at line:15"), std::string::npos)
        << out;

    EXPECT_EQ(m.logger_level(0), LOG_LEVEL_ALARM);
    EXPECT_FALSE(m.logger_display(0));
    EXPECT_EQ(m.logger_path(0), (dir / "mainlog").string() + "/");
    EXPECT_EQ(m.logger_limitsize(0), 100);  // "limit" is not a key
    int net = m.find_logger("Net");
    ASSERT_EQ(net, 1);
    EXPECT_EQ(m.logger_level(net), LOG_LEVEL_TRACE);  // the repeated section's later value
    EXPECT_FALSE(m.logger_display(net));
    EXPECT_TRUE(m.logger_monthdir(net));
    EXPECT_EQ(m.logger_limitsize(net), 7);
    EXPECT_EQ(m.active_logger_count(), 2);  // the configured Main and Net

    testing::internal::CaptureStdout();
    EXPECT_FALSE(m.config("other.cfg"));
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "logger configure error: too many too call Config. the old config file=" + cfg.string() +
                       ", the new config file=other.cfg\n");

    // update_config reads the same file again and applies it to existing loggers.
    std::ofstream(cfg) << "[main]\nlevel=error\ndisplay=false\npath=" << (dir / "mainlog").string()
                       << "\n[Net]\nmonthdir=0\ndisplay=0\npath=" << (dir / "net").string() << "\n";
    EXPECT_TRUE(m.update_config());
    EXPECT_EQ(m.logger_level(0), LOG_LEVEL_ERROR);
    EXPECT_FALSE(m.logger_monthdir(net));

    testing::internal::CaptureStdout();
    EXPECT_EQ(m.create_logger(""), -1);
    for (int i = 2; i < LOGGER_MAX; ++i)
        EXPECT_EQ(m.create_logger(("L" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(m.create_logger("Net"), net);  // an existing name gives its identifier
    EXPECT_EQ(m.create_logger("one too many"), -1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "logger: create logger error, name is empty ! \r\n"
              "logger: CreateLogger can not create|writeover, because loggerid need < LOGGER_MAX! \r\n");

    for (int i = 2; i < LOGGER_MAX; ++i)
        m.set_logger_display(i, false);
    ASSERT_TRUE(m.start());
    EXPECT_FALSE(m.is_logger_enabled(0, LOG_LEVEL_WARN));
    EXPECT_TRUE(m.is_logger_enabled(0, LOG_LEVEL_ERROR));
    EXPECT_EQ(m.active_logger_count(), LOGGER_MAX);
    m.stop();

    CLogerManager missing;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(missing.config((dir / "absent.cfg").c_str()));
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("logger configure error: can not open config file="), std::string::npos);
}

TEST_F(LoggerFiles, ConsoleEchoWhenDisplayed)
{
    CLogerManager m;
    m.set_logger_path(0, (dir / "log").c_str());
    m.set_logger_level(0, LOG_LEVEL_INFO);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(m.start());
    m.push_log(0, LOG_LEVEL_ERROR, "to the console");
    m.set_logger_display(0, false);
    m.push_log(0, LOG_LEVEL_ERROR, "not to the console");
    m.stop();
    std::string out = testing::internal::GetCapturedStdout();
    // Captured output is no terminal, so no colour codes.
    EXPECT_NE(out.find(" LOG_ERROR to the console \r\n"), std::string::npos);
    EXPECT_EQ(out.find("not to the console"), std::string::npos);
    EXPECT_EQ(out.find('\033'), std::string::npos);
}

TEST_F(LoggerFiles, ConsoleColoursOnATerminal)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(slave, STDOUT_FILENO);
    {
        CLogerManager m;
        m.set_clock_hook([] { return utc_ms(2024, 1, 2, 3, 4, 5, 6); });
        m.set_logger_path(0, (dir / "log").c_str());
        m.set_logger_level(0, LOG_LEVEL_TRACE);
        m.start();
        for (int level = LOG_LEVEL_TRACE; level <= LOG_LEVEL_FATAL; ++level)
            m.push_log(0, level, ("colour" + std::to_string(level)).c_str());
        m.stop();
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(slave);
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(master);

    const std::string stamp = "2024-01-02 03:04:05.006 ";
    // Trace and debug plain; info cyan, warn yellow, error red, alarm green, fatal magenta.
    const char* colours[] = {"", "", "\033[36m", "\033[33m", "\033[31m", "\033[32m", "\033[35m"};
    const char* names[] = {"LOG_TRACE", "LOG_DEBUG", "LOG_INFO ", "LOG_WARN ", "LOG_ERROR", "LOG_ALARM", "LOG_FATAL"};
    for (int level = 0; level <= 6; ++level) {
        const std::string line = stamp + names[level] + " colour" + std::to_string(level) + " ";
        size_t at = out.find(line);
        ASSERT_NE(at, std::string::npos) << level << out;
        const std::string colour = colours[level];
        if (colour.empty()) {
            // No colour code of its own, before or after.
            EXPECT_TRUE(out[at - 1] == '\n' || out.compare(at - 4, 4, "\033[0m") == 0) << level;
            size_t esc = out.find("\033[", at);
            EXPECT_TRUE(esc == std::string::npos || esc > out.find('\n', at)) << level;
        } else {
            EXPECT_EQ(out.substr(at - colour.size(), colour.size()), colour) << level;
            EXPECT_NE(out.find("\033[0m", at + line.size()), std::string::npos) << level;
            EXPECT_LT(out.find("\033[0m", at + line.size()), out.find(stamp, at + line.size())) << level;
        }
    }
}

TEST_F(LoggerFiles, FloodingStatementIsCutAndOldFilesAreDeletedBeyondTheDirectoryLimit)
{
    // Files of an earlier session, oldest first, 60 MiB in all: the oldest
    // go when a new file starts, the newest 50 MiB stay, other files stay.
    const fs::path logs = dir / "log";
    fs::create_directories(logs);
    const auto old_file = [&](const std::string& name, int age_s) {
        const fs::path p = logs / name;
        std::ofstream(p).close();
        fs::resize_file(p, 20ULL * 1024 * 1024);
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(age_s));
        return p;
    };
    const fs::path a = old_file("test_logger_202001010000_000001_000.log", 300);
    const fs::path b = old_file("test_logger_202001020000_000001_000.log", 200);
    const fs::path c = old_file("test_logger_202001030000_000001_000.log", 100);
    std::ofstream(logs / "notes.txt") << "mine";

    CLogerManager m;
    int64_t now = utc_ms(2025, 3, 4, 12, 0, 0, 0);
    m.set_clock_hook([&] { return now; });
    start(m);
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(m.push_log(0, LOG_LEVEL_INFO, ("device message " + std::to_string(i) + " ( a.cpp ) : 7").c_str()));
    ASSERT_TRUE(m.push_log(0, LOG_LEVEL_INFO, "other ( b.cpp ) : 9"));
    now += 1000;
    ASSERT_TRUE(m.push_log(0, LOG_LEVEL_INFO, "later ( b.cpp ) : 9"));
    m.stop();

    EXPECT_FALSE(fs::exists(a));
    EXPECT_TRUE(fs::exists(b));
    EXPECT_TRUE(fs::exists(c));
    EXPECT_TRUE(fs::exists(logs / "notes.txt"));
    const std::string log = read_all(logs / ("test_logger_202503041200_" + pid_text() + "_000.log"));
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("device message", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, CLogerManager::kFloodLines);
    EXPECT_NE(log.find("other ( b.cpp ) : 9"), std::string::npos);
    EXPECT_NE(log.find("450 more lines from ( a.cpp ) : 7 left out in one second"), std::string::npos) << log;
    EXPECT_NE(log.find("later"), std::string::npos);
}
