#pragma once
// The logging manager: 10 logger records, synchronous line writing with one
// open/append/close per line, daily and size-based file rolling, an optional
// configuration file and a background thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "log/CLock.h"
#include "log/CThread.h"
#include "log/ILogManager.h"

class CSem;

enum { LOGGER_MAX = 10 };

class CLogerManager : public ILogManager
{
public:
    CLogerManager();
    ~CLogerManager() override;
    CLogerManager(const CLogerManager&) = delete;
    CLogerManager& operator=(const CLogerManager&) = delete;

    // The process-wide instance (the same object get_instance() returns).
    static CLogerManager* instance();

    const char* default_config_text() override;
    bool config(const char* file_name) override;
    int create_logger(const char* name) override;
    bool start() override;
    bool stop() override;
    int find_logger(const char* name) override;
    bool is_logger_enabled(int id, int level) override;
    bool push_log(int id, int level, const char* text) override;
    bool set_logger_level(int id, int level) override;
    bool set_logger_display(int id, bool display) override;
    bool set_logger_monthdir(int id, bool monthdir) override;
    bool set_logger_limitsize(int id, unsigned int limit_mb) override;
    bool update_config() override;
    unsigned long long total_lines() override;
    unsigned long long total_bytes() override;
    unsigned long long bytes_waiting() override;
    int active_logger_count() override;

    // Directory the logger's files go to (a trailing "/" is added when missing).
    bool set_logger_path(int id, const char* path);
    // Read-back of a logger's settings, for diagnostics and tests.
    int logger_level(int id) const;
    bool logger_display(int id) const;
    bool logger_monthdir(int id) const;
    long long logger_limitsize(int id) const;  // -1: no limit
    std::string logger_path(int id) const;
    std::string logger_name(int id) const;
    std::string logger_process(int id) const;
    bool is_running() const { return m_running.load(); }

    // Replaces the wall clock (milliseconds since 1970-01-01 UTC); an empty
    // function restores it. Lets tests put lines on either side of midnight.
    void set_clock_hook(std::function<int64_t()> clock);

    // At most this many lines a second from one statement are written; the
    // rest of that second's are counted in one summary line.
    static constexpr unsigned kFloodLines = 50;
    // Older log files of a logger are deleted, oldest first, beyond this total.
    static constexpr unsigned long long kDirLimitBytes = 50ULL * 1024 * 1024;

private:
    struct LoggerRecord
    {
        std::string name;
        std::string process;
        std::string path = "./log/";
        std::atomic<int> level{LOG_LEVEL_DEBUG};
        std::atomic<bool> display{true};
        std::atomic<bool> monthdir{false};
        std::atomic<long long> limit_mb{100};
        std::atomic<bool> enabled{false};
        int64_t file_time = 0;     // seconds of the current file's first line
        struct tm file_tm = {};    // file_time in local calendar time
        bool has_file = false;     // false until the first line chose a file
        int file_index = 0;
        unsigned long long bytes_written = 0;
        FILE* file = nullptr;
        // Lines of the current second by the statement that wrote them.
        int64_t flood_sec = -1;
        std::map<std::string, unsigned> flood;
    };

    struct ConfigSection
    {
        std::string name;
        std::string path = "./log/";
        int level = LOG_LEVEL_DEBUG;
        bool display = true;
        bool monthdir = false;
        unsigned limit_mb = 100;
    };

    struct PendingEntry
    {
        int id;
        int level;
        std::string line;
    };

    bool read_config_file(const std::string& file, std::deque<ConfigSection>& out);
    void apply_section(int id, const ConfigSection& s);
    void thread_main();
    FILE* open_logger(int id, int level, int64_t sec, const struct tm& lt);
    void close_all();
    bool flood_allows(int id, int64_t sec, const char* text, std::string* summary);
    void write_flood_summary(int id, int level, const std::string& summary, int64_t ms);
    void flush_flood_summaries();
    void prune_dir(const std::string& dir, const std::string& name, const std::string& keep);
    void console_print(const char* text);
    void console_line(int level, const char* line, size_t len);
    int64_t now_ms();
    static bool valid_id(int id) { return id >= 0 && id < LOGGER_MAX; }

    // Interface part.
    std::atomic<bool> m_running{false};
    CSem* m_startSem = nullptr;
    std::string m_configFile;
    std::map<std::string, int> m_nameToId;
    LoggerRecord m_loggers[LOGGER_MAX];

    mutable CLock m_mapLock;     // name map and record names
    CLock m_consoleLock;         // one console line at a time
    CLock m_queueLock;
    std::deque<PendingEntry> m_queue;
    mutable CLock m_writeLock;   // file rolling and writing; record names and paths
    std::atomic<unsigned long long> m_totalLines{0};
    std::atomic<unsigned long long> m_totalBytes{0};

    CLock m_startStopLock;
    CThread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_stopRequested = false;

    std::mutex m_clockMutex;
    std::function<int64_t()> m_clock;
};
