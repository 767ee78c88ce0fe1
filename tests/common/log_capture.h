#pragma once
// Collects the lines the program logs, for assertions in tests.
//
// While at least one LogCapture exists the process-wide logger runs with
// logger 0 at level 0 (trace), console output off and its files in a private
// temporary directory; every capture alive sees every line. When the last one
// goes away the logger is stopped again, so later code logs nothing.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "log/CLogerManager.h"

class LogCapture
{
public:
    LogCapture()
    {
        Shared& s = shared();
        std::lock_guard<std::mutex> setup(s.setup_mutex);
        bool first;
        {
            std::lock_guard<std::mutex> lk(s.set_mutex);
            first = s.active.empty();
            s.active.insert(this);
        }
        if (first) {
            CLogerManager* m = CLogerManager::instance();
            m->set_logger_level(0, LOG_LEVEL_TRACE);
            m->set_logger_display(0, false);
            m->set_logger_path(0, temp_dir().c_str());
            log_set_line_hook(&LogCapture::dispatch, nullptr);
            m->start();
        }
    }

    ~LogCapture()
    {
        Shared& s = shared();
        std::lock_guard<std::mutex> setup(s.setup_mutex);
        bool last;
        {
            std::lock_guard<std::mutex> lk(s.set_mutex);
            s.active.erase(this);
            last = s.active.empty();
        }
        if (last) {
            CLogerManager::instance()->stop();
            log_set_line_hook(nullptr, nullptr);
        }
    }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // True when any collected line contains text.
    bool contains(const std::string& text) const
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }

    // Every line collected so far (each ends with CR LF, as written to the files).
    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_lines;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_lines.clear();
    }

    // Directory the log files go to while captures are alive.
    static const std::string& temp_dir()
    {
        static TempDir dir;
        return dir.path;
    }

private:
    struct Shared
    {
        std::mutex setup_mutex;  // serialises start and stop of the logger
        std::mutex set_mutex;    // guards active
        std::set<LogCapture*> active;
    };

    struct TempDir
    {
        std::string path;
        TempDir()
        {
            std::string tmpl = (std::filesystem::temp_directory_path() / "kvm_logcap_XXXXXX").string();
            std::vector<char> buf(tmpl.begin(), tmpl.end());
            buf.push_back('\0');
            path = mkdtemp(buf.data()) ? std::string(buf.data()) : tmpl.substr(0, tmpl.size() - 7);
            path += "/";
        }
        ~TempDir()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };

    static Shared& shared()
    {
        static Shared s;
        return s;
    }

    static void dispatch(void*, int, int, const char* line)
    {
        Shared& s = shared();
        std::lock_guard<std::mutex> lk(s.set_mutex);
        for (LogCapture* c : s.active) {
            std::lock_guard<std::mutex> ck(c->m_mutex);
            c->m_lines.emplace_back(line);
        }
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};
