#include "log/CLogerManager.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "log/CSem.h"

namespace {

const char* const kLevelNames[] = {"LOG_TRACE", "LOG_DEBUG", "LOG_INFO ", "LOG_WARN ",
                                   "LOG_ERROR", "LOG_ALARM", "LOG_FATAL"};

// ANSI stand-ins for the console attributes of levels 2..6.
const char* const kLevelColours[] = {nullptr, nullptr, "\033[36m", "\033[33m",
                                     "\033[31m", "\033[32m", "\033[35m"};

const char kDefaultConfig[] =
    "[FileConfig]\n#path=./log/\n#level=DEBUG\n#display=true\n#monthdir=false\n#limit=100\n";

const unsigned long long kMiB = 1048576ULL;

// Line observer shared by every manager.
std::mutex g_hookMutex;
log_line_hook g_hook = nullptr;
void* g_hookCtx = nullptr;
std::atomic<bool> g_hookSet{false};

void call_line_hook(int id, int level, const char* line)
{
    if (!g_hookSet.load(std::memory_order_acquire))
        return;
    // Called under the lock so that removing the hook waits for calls in flight.
    std::lock_guard<std::mutex> lk(g_hookMutex);
    if (g_hook)
        g_hook(g_hookCtx, id, level, line);
}

std::string trim(const std::string& s, const char* chars)
{
    size_t b = s.find_first_not_of(chars);
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(chars);
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int level_from_word(const std::string& w)
{
    if (w == "trace" || w == "all")
        return LOG_LEVEL_TRACE;
    if (w == "debug")
        return LOG_LEVEL_DEBUG;
    if (w == "info")
        return LOG_LEVEL_INFO;
    if (w == "warn" || w == "warning")
        return LOG_LEVEL_WARN;
    if (w == "error")
        return LOG_LEVEL_ERROR;
    if (w == "alarm")
        return LOG_LEVEL_ALARM;
    if (w == "fatal")
        return LOG_LEVEL_FATAL;
    return -1;
}

bool is_dir(const std::string& p)
{
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates the directory level by level; false when one level cannot be made.
bool make_dirs(std::string dir)
{
    std::replace(dir.begin(), dir.end(), '\\', '/');
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    for (size_t pos = dir.find('/'); pos != std::string::npos; pos = dir.find('/', pos + 1)) {
        std::string prefix = dir.substr(0, pos);
        if (prefix.empty() || is_dir(prefix))
            continue;
        if (::mkdir(prefix.c_str(), 0755) != 0 && !(errno == EEXIST && is_dir(prefix)))
            return false;
    }
    return true;
}

std::string program_name()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "MainLog";
    buf[n] = '\0';
    std::string name(buf);
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name = name.substr(0, dot);
    return name.empty() ? std::string("MainLog") : name;
}

void stop_instance_at_exit()
{
    CLogerManager::instance()->stop();
}

}  // namespace

void log_set_line_hook(log_line_hook hook, void* ctx)
{
    std::lock_guard<std::mutex> lk(g_hookMutex);
    g_hook = hook;
    g_hookCtx = hook ? ctx : nullptr;
    g_hookSet.store(hook != nullptr, std::memory_order_release);
}

ILogManager* ILogManager::get_instance()
{
    return CLogerManager::instance();
}

CLogerManager* CLogerManager::instance()
{
    // Never deleted: statements in other static destructors may still ask it
    // whether a level is enabled. The thread is stopped and files closed at exit.
    static CLogerManager* inst = [] {
        CLogerManager* m = new CLogerManager;
        std::atexit(stop_instance_at_exit);
        return m;
    }();
    return inst;
}

CLogerManager::CLogerManager()
{
    m_nameToId["Main"] = 0;
    m_loggers[0].name = program_name();
    char pid[32];
    std::snprintf(pid, sizeof pid, "%06d", static_cast<int>(::getpid()));
    for (LoggerRecord& r : m_loggers)
        r.process = "0";
    m_loggers[0].process = pid;
}

CLogerManager::~CLogerManager()
{
    stop();
    close_all();
    delete m_startSem;
}

const char* CLogerManager::default_config_text()
{
    return kDefaultConfig;
}

void CLogerManager::console_print(const char* text)
{
    CAutoLock lk(m_consoleLock);
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void CLogerManager::console_line(int level, const char* line, size_t len)
{
    CAutoLock lk(m_consoleLock);
    const char* colour = (level >= 2 && level <= 6) ? kLevelColours[level] : nullptr;
    bool tty = colour && ::isatty(::fileno(stdout));
    if (tty)
        std::fputs(colour, stdout);
    std::fwrite(line, 1, len, stdout);
    if (tty)
        std::fputs("\033[0m", stdout);
    std::fflush(stdout);
}

int64_t CLogerManager::now_ms()
{
    {
        std::lock_guard<std::mutex> lk(m_clockMutex);
        if (m_clock)
            return m_clock();
    }
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void CLogerManager::set_clock_hook(std::function<int64_t()> clock)
{
    std::lock_guard<std::mutex> lk(m_clockMutex);
    m_clock = std::move(clock);
}

bool CLogerManager::read_config_file(const std::string& file, std::deque<ConfigSection>& out)
{
    FILE* f = std::fopen(file.c_str(), "r");
    if (!f) {
        std::string msg = "logger configure error: can not open config file=" + file + "\n";
        console_print(msg.c_str());
        return false;
    }
    char buf[500];
    int line_no = 0;
    ConfigSection* current = nullptr;
    std::string section;
    while (std::fgets(buf, sizeof buf, f)) {
        ++line_no;
        std::string line = trim(buf, " \t\r\n");
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            section = trim(line, " \t\r\n[]");
            if (lower(section) == "main")
                section = "Main";
            current = nullptr;
            for (ConfigSection& s : out)
                if (s.name == section)
                    current = &s;
            if (current) {
                std::string msg = "logger configure warning: dumplicate logger name:[" + section +
                                  "] at line:" + std::to_string(line_no) + "\n";
                console_print(msg.c_str());
            } else {
                out.emplace_back();
                out.back().name = section;
                current = &out.back();
            }
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            std::string msg = "logger configure warning: unresolved line:[" + line + "] at line:" +
                              std::to_string(line_no) + "\n";
            console_print(msg.c_str());
            continue;
        }
        std::string key = trim(line.substr(0, eq), " \t\r\n");
        std::string value = trim(line.substr(eq + 1), " \t\r\n");
        if (!current) {
            std::string msg = "logger configure warning: not found current logger name:[" + section +
                              "] at line:" + std::to_string(line_no) + ", key=" + key +
                              ", value=" + value + "\n";
            console_print(msg.c_str());
            continue;
        }
        key = lower(key);
        if (key == "path") {
            current->path = value;
            continue;
        }
        value = lower(value);
        if (key == "level") {
            int lv = level_from_word(value);
            if (lv >= 0)
                current->level = lv;
        } else if (key == "display") {
            current->display = !(value == "false" || value == "0");
        } else if (key == "monthdir") {
            current->monthdir = !(value == "false" || value == "0");
        } else if (key == "limitsize") {
            current->limit_mb = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        }
    }
    std::fclose(f);
    return true;
}

void CLogerManager::apply_section(int id, const ConfigSection& s)
{
    set_logger_path(id, s.path.c_str());
    set_logger_level(id, s.level);
    set_logger_display(id, s.display);
    set_logger_monthdir(id, s.monthdir);
    set_logger_limitsize(id, s.limit_mb);
}

bool CLogerManager::config(const char* file_name)
{
    std::string name = file_name ? file_name : "";
    std::string old;
    {
        CAutoLock lk(m_mapLock);
        old = m_configFile;
        if (old.empty())
            m_configFile = name;
    }
    if (!old.empty()) {
        std::string msg = "logger configure error: too many too call Config. the old config file=" +
                          old + ", the new config file=" + name + "\n";
        console_print(msg.c_str());
        return false;
    }
    std::deque<ConfigSection> sections;
    if (!read_config_file(name, sections))
        return false;
    for (const ConfigSection& s : sections) {
        int id = create_logger(s.name.c_str());
        if (id >= 0)
            apply_section(id, s);
    }
    return true;
}

bool CLogerManager::update_config()
{
    std::string file;
    {
        CAutoLock lk(m_mapLock);
        file = m_configFile;
    }
    if (file.empty())
        return false;
    std::deque<ConfigSection> sections;
    if (!read_config_file(file, sections))
        return false;
    for (const ConfigSection& s : sections) {
        int id = find_logger(s.name.c_str());
        if (id >= 0)
            apply_section(id, s);
    }
    return true;
}

int CLogerManager::create_logger(const char* name)
{
    if (!name || !*name) {
        console_print("logger: create logger error, name is empty ! \r\n");
        return -1;
    }
    int id = -1;
    {
        CAutoLock lk(m_mapLock);
        auto it = m_nameToId.find(name);
        if (it != m_nameToId.end()) {
            id = it->second;
        } else {
            bool used[LOGGER_MAX] = {};
            for (const auto& kv : m_nameToId)
                used[kv.second] = true;
            for (int i = 0; i < LOGGER_MAX && id < 0; ++i)
                if (!used[i])
                    id = i;
            if (id >= 0) {
                m_nameToId[name] = id;
                CAutoLock wl(m_writeLock);
                m_loggers[id].name = name;
                m_loggers[id].process = m_loggers[0].process;
            }
        }
    }
    if (id < 0) {
        console_print("logger: CreateLogger can not create|writeover, because loggerid need < LOGGER_MAX! \r\n");
        return -1;
    }
    m_loggers[id].enabled = true;
    return id;
}

int CLogerManager::find_logger(const char* name)
{
    if (!name)
        return -1;
    CAutoLock lk(m_mapLock);
    auto it = m_nameToId.find(name);
    return it == m_nameToId.end() ? -1 : it->second;
}

bool CLogerManager::start()
{
    CAutoLock lk(m_startStopLock);
    if (m_running.load())
        return true;
    m_thread.join();  // a thread from an earlier start that has ended
    delete m_startSem;
    m_startSem = new CSem(0, 64);
    {
        std::lock_guard<std::mutex> wk(m_wakeMutex);
        m_stopRequested = false;
    }
    if (!m_thread.start([this] { thread_main(); })) {
        console_print("logger: create logger thread error! \r\n");
        return false;
    }
    return m_startSem->wait(3000);
}

bool CLogerManager::stop()
{
    CAutoLock lk(m_startStopLock);
    if (!m_thread.joinable())
        return true;
    {
        std::lock_guard<std::mutex> wk(m_wakeMutex);
        m_stopRequested = true;
    }
    m_running = false;
    m_wake.notify_all();
    m_thread.join();
    return true;
}

void CLogerManager::thread_main()
{
    m_running = true;
    m_loggers[0].enabled = true;
    push_log(0, LOG_LEVEL_ALARM,
             "-----------------  logger thread started!   ----------------------------");
    for (int id = 0; id < LOGGER_MAX; ++id) {
        LoggerRecord& r = m_loggers[id];
        if (!r.enabled)
            continue;
        std::string line;
        {
            CAutoLock wl(m_writeLock);
            line = "logger id=" + std::to_string(id) + " path=" + r.path + " name=" + r.name +
                   " level=" + std::to_string(r.level.load()) +
                   " display=" + std::to_string(r.display.load() ? 1 : 0);
        }
        push_log(0, LOG_LEVEL_ALARM, line.c_str());
    }
    m_startSem->post();

    for (;;) {
        bool stopping;
        {
            std::unique_lock<std::mutex> wk(m_wakeMutex);
            m_wake.wait_for(wk, std::chrono::milliseconds(100), [this] { return m_stopRequested; });
            stopping = m_stopRequested;
        }
        std::deque<PendingEntry> batch;
        {
            CAutoLock ql(m_queueLock);
            batch.swap(m_queue);
        }
        // A flood that stopped is still counted within a tenth of a second.
        flush_flood_summaries();
        bool touched[LOGGER_MAX] = {};
        for (const PendingEntry& e : batch) {
            if (!valid_id(e.id))
                continue;
            if (m_loggers[e.id].display)
                console_line(e.level, e.line.c_str(), e.line.size());
            int64_t ms = now_ms();
            time_t sec = static_cast<time_t>(ms / 1000);
            struct tm lt;
            ::localtime_r(&sec, &lt);
            CAutoLock wl(m_writeLock);
            FILE* f = open_logger(e.id, e.level, sec, lt);
            if (f) {
                std::fwrite(e.line.data(), 1, e.line.size(), f);
                m_loggers[e.id].bytes_written += e.line.size();
                ++m_totalLines;
                m_totalBytes += e.line.size();
                touched[e.id] = true;
            }
        }
        {
            CAutoLock wl(m_writeLock);
            for (int id = 0; id < LOGGER_MAX; ++id)
                if (touched[id] && m_loggers[id].enabled && m_loggers[id].file)
                    std::fflush(m_loggers[id].file);
        }
        if (stopping) {
            CAutoLock ql(m_queueLock);
            if (m_queue.empty())
                break;
        }
    }
    close_all();
}

void CLogerManager::close_all()
{
    CAutoLock wl(m_writeLock);
    for (LoggerRecord& r : m_loggers) {
        if (r.file) {
            std::fclose(r.file);
            r.file = nullptr;
        }
    }
}

bool CLogerManager::is_logger_enabled(int id, int level)
{
    if (!valid_id(id) || !m_running.load(std::memory_order_relaxed))
        return false;
    const LoggerRecord& r = m_loggers[id];
    return r.enabled.load(std::memory_order_relaxed) && level >= r.level.load(std::memory_order_relaxed);
}

FILE* CLogerManager::open_logger(int id, int level, int64_t sec, const struct tm& lt)
{
    if (!valid_id(id)) {
        console_print("logger: OpenLogger can not open, invalide logger id! \r\n");
        return nullptr;
    }
    LoggerRecord& r = m_loggers[id];
    bool rolled_now = false;
    if (r.enabled && level >= r.level) {
        bool new_day = !r.has_file || r.file_tm.tm_year != lt.tm_year ||
                       r.file_tm.tm_mon != lt.tm_mon || r.file_tm.tm_mday != lt.tm_mday;
        long long limit = r.limit_mb;
        bool rolled = false;
        if (new_day) {
            rolled = true;
            r.has_file = true;
            r.file_index = 0;
            r.bytes_written = 0;
            r.file_time = sec;
            r.file_tm = lt;
        } else if (limit > 0 && static_cast<unsigned long long>(limit) * kMiB < r.bytes_written) {
            rolled = true;
            ++r.file_index;
            r.bytes_written = 0;
        }
        rolled_now = rolled;
        if (rolled && r.file) {
            std::fclose(r.file);
            r.file = nullptr;
        }
    }
    if (r.file)
        return r.file;

    // Backslashes are separators in configured paths; on this platform they
    // would otherwise become part of a file name.
    std::string dir = r.path;
    std::replace(dir.begin(), dir.end(), '\\', '/');
    if (r.monthdir) {
        char month[32];
        std::snprintf(month, sizeof month, "%04d_%02d/", r.file_tm.tm_year + 1900, r.file_tm.tm_mon + 1);
        if (!dir.empty() && dir.back() != '/' && dir.back() != '\\')
            dir += '/';
        dir += month;
    }
    if (!is_dir(dir) && !make_dirs(dir))
        return nullptr;
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\')
        dir += '/';
    char name[1024];
    std::snprintf(name, sizeof name, "%s_%04d%02d%02d%02d%02d_%s_%03d.log", r.name.c_str(),
                  r.file_tm.tm_year + 1900, r.file_tm.tm_mon + 1, r.file_tm.tm_mday,
                  r.file_tm.tm_hour, r.file_tm.tm_min, r.process.c_str(), r.file_index);
    if (rolled_now)
        prune_dir(dir, r.name + "_", name);
    r.file = std::fopen((dir + name).c_str(), "ab");
    return r.file;
}

void CLogerManager::prune_dir(const std::string& dir, const std::string& prefix, const std::string& keep)
{
    struct entry
    {
        std::string path;
        time_t mtime;
        unsigned long long size;
    };
    std::vector<entry> files;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (const struct dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n == keep || n.compare(0, prefix.size(), prefix) != 0 || n.size() < 4 ||
            n.compare(n.size() - 4, 4, ".log") != 0)
            continue;
        struct stat st;
        if (::lstat((dir + n).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            files.push_back({dir + n, st.st_mtime, static_cast<unsigned long long>(st.st_size)});
    }
    ::closedir(d);
    std::sort(files.begin(), files.end(), [](const entry& a, const entry& b) { return a.mtime > b.mtime; });
    unsigned long long total = 0;
    for (const entry& f : files) {
        total += f.size;
        if (total > kDirLimitBytes)
            ::unlink(f.path.c_str());
    }
}

void CLogerManager::write_flood_summary(int id, int level, const std::string& summary, int64_t ms)
{
    const time_t sec = static_cast<time_t>(ms / 1000);
    struct tm lt;
    ::localtime_r(&sec, &lt);
    char head[64];
    std::snprintf(head, sizeof head, "%d-%02d-%02d %02d:%02d:%02d.%03d %s ", lt.tm_year + 1900, lt.tm_mon + 1,
                  lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec, static_cast<int>(ms % 1000),
                  kLevelNames[LOG_LEVEL_WARN]);
    std::string lines;
    for (size_t at = 0, nl; (nl = summary.find('\n', at)) != std::string::npos; at = nl + 1)
        lines += head + summary.substr(at, nl - at) + " \r\n";
    if (m_loggers[id].display)
        console_line(LOG_LEVEL_WARN, lines.c_str(), lines.size());
    CAutoLock wl(m_writeLock);
    if (FILE* f = open_logger(id, level, sec, lt)) {
        std::fwrite(lines.data(), 1, lines.size(), f);
        m_loggers[id].bytes_written += lines.size();
        std::fclose(f);
        m_loggers[id].file = nullptr;
    }
}

void CLogerManager::flush_flood_summaries()
{
    const int64_t ms = now_ms();
    for (int id = 0; id < LOGGER_MAX; ++id) {
        std::string summary;
        int level = LOG_LEVEL_WARN;
        {
            CAutoLock wl(m_writeLock);
            LoggerRecord& r = m_loggers[id];
            if (r.flood.empty() || r.flood_sec == ms / 1000)
                continue;
            level = std::max(level, r.level.load());
            flood_allows(id, ms / 1000, "", &summary);
        }
        if (!summary.empty())
            write_flood_summary(id, level, summary, ms);
    }
}

bool CLogerManager::flood_allows(int id, int64_t sec, const char* text, std::string* summary)
{
    LoggerRecord& r = m_loggers[id];
    if (sec != r.flood_sec) {
        for (const auto& site : r.flood)
            if (site.second > kFloodLines)
                *summary += "log: " + std::to_string(site.second - kFloodLines) + " more lines from" +
                            site.first + " left out in one second\n";
        r.flood.clear();
        r.flood_sec = sec;
    }
    // A statement's lines end with its place, " ( file ) : line"; lines
    // without one (pushed directly) are not counted.
    const char* at = std::strstr(text, " ( ");
    for (const char* next = at; next; next = std::strstr(next + 1, " ( "))
        at = next;
    if (!at || !std::strstr(at, " ) : "))
        return true;
    return ++r.flood[at] <= kFloodLines;
}

bool CLogerManager::push_log(int id, int level, const char* text)
{
    // Levels above fatal have no name to write.
    if (level < LOG_LEVEL_TRACE || level > LOG_LEVEL_FATAL || !is_logger_enabled(id, level))
        return false;
    if (!text)
        text = "";

    int64_t ms = now_ms();
    time_t sec = static_cast<time_t>(ms / 1000);
    int msec = static_cast<int>(ms % 1000);
    struct tm lt;
    ::localtime_r(&sec, &lt);

    char line[2048];
    int n = std::snprintf(line, sizeof line, "%d-%02d-%02d %02d:%02d:%02d.%03d %s %s \r\n",
                          lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min,
                          lt.tm_sec, msec, kLevelNames[level], text);
    if (n < 0)
        return false;
    size_t len = static_cast<size_t>(n) >= sizeof line ? sizeof line - 1 : static_cast<size_t>(n);
    if (len > 1) {
        line[len - 2] = '\r';
        line[len - 1] = '\n';
    }

    // A statement that floods (a device sending a stream of tiny messages)
    // is cut to kFloodLines a second, so the log cannot fill the disk.
    std::string summary;
    bool allowed;
    {
        CAutoLock wl(m_writeLock);
        allowed = flood_allows(id, sec, text, &summary);
    }
    if (!summary.empty())
        write_flood_summary(id, level, summary, ms);
    if (!allowed)
        return true;

    call_line_hook(id, level, line);

    if (m_loggers[id].display)
        console_line(level, line, len);

    CAutoLock wl(m_writeLock);
    FILE* f = open_logger(id, level, sec, lt);
    if (f) {
        std::fwrite(line, 1, len, f);
        m_loggers[id].bytes_written += len;
        std::fclose(f);
        m_loggers[id].file = nullptr;
        ++m_totalLines;
        m_totalBytes += len;
    }
    return true;
}

bool CLogerManager::set_logger_level(int id, int level)
{
    if (id < 0 || id > 9 || level < 0 || level > 6)
        return false;
    m_loggers[id].level = level;
    return true;
}

bool CLogerManager::set_logger_display(int id, bool display)
{
    if (!valid_id(id))
        return false;
    m_loggers[id].display = display;
    return true;
}

bool CLogerManager::set_logger_monthdir(int id, bool monthdir)
{
    if (!valid_id(id))
        return false;
    m_loggers[id].monthdir = monthdir;
    return true;
}

bool CLogerManager::set_logger_limitsize(int id, unsigned int limit_mb)
{
    if (!valid_id(id))
        return false;
    m_loggers[id].limit_mb = limit_mb == 0 ? -1 : static_cast<long long>(limit_mb);
    return true;
}

bool CLogerManager::set_logger_path(int id, const char* path)
{
    if (!valid_id(id) || !path)
        return false;
    std::string p = path;
    if (p.empty() || (p.back() != '/' && p.back() != '\\'))
        p += '/';
    CAutoLock wl(m_writeLock);
    LoggerRecord& r = m_loggers[id];
    if (r.path != p && r.file) {
        std::fclose(r.file);
        r.file = nullptr;
    }
    r.path = p;
    return true;
}

int CLogerManager::logger_level(int id) const
{
    return valid_id(id) ? m_loggers[id].level.load() : -1;
}

bool CLogerManager::logger_display(int id) const
{
    return valid_id(id) && m_loggers[id].display.load();
}

bool CLogerManager::logger_monthdir(int id) const
{
    return valid_id(id) && m_loggers[id].monthdir.load();
}

long long CLogerManager::logger_limitsize(int id) const
{
    return valid_id(id) ? m_loggers[id].limit_mb.load() : 0;
}

std::string CLogerManager::logger_path(int id) const
{
    if (!valid_id(id))
        return std::string();
    CAutoLock wl(m_writeLock);
    return m_loggers[id].path;
}

std::string CLogerManager::logger_name(int id) const
{
    if (!valid_id(id))
        return std::string();
    CAutoLock wl(m_writeLock);
    return m_loggers[id].name;
}

std::string CLogerManager::logger_process(int id) const
{
    if (!valid_id(id))
        return std::string();
    CAutoLock wl(m_writeLock);
    return m_loggers[id].process;
}

unsigned long long CLogerManager::total_lines()
{
    return m_totalLines.load();
}

unsigned long long CLogerManager::total_bytes()
{
    return m_totalBytes.load();
}

unsigned long long CLogerManager::bytes_waiting()
{
    CAutoLock ql(m_queueLock);
    unsigned long long n = 0;
    for (const PendingEntry& e : m_queue)
        n += e.line.size();
    return n;
}

int CLogerManager::active_logger_count()
{
    int n = 0;
    for (const LoggerRecord& r : m_loggers)
        if (r.enabled)
            ++n;
    return n;
}
