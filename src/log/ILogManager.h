#pragma once
// Process-wide logging manager interface: up to 10 named loggers writing dated
// files under a directory, optionally echoed to a colour console.
#include <cstdint>

enum
{
    LOG_LEVEL_TRACE = 0,
    LOG_LEVEL_DEBUG = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_WARN = 3,
    LOG_LEVEL_ERROR = 4,
    LOG_LEVEL_ALARM = 5,
    LOG_LEVEL_FATAL = 6
};

class ILogManager
{
public:
    virtual ~ILogManager() = default;
    virtual const char* default_config_text() = 0;
    virtual bool config(const char* file_name) = 0;
    virtual int create_logger(const char* name) = 0;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    virtual int find_logger(const char* name) = 0;
    virtual bool is_logger_enabled(int id, int level) = 0;
    virtual bool push_log(int id, int level, const char* text) = 0;
    virtual bool set_logger_level(int id, int level) = 0;
    virtual bool set_logger_display(int id, bool display) = 0;
    virtual bool set_logger_monthdir(int id, bool monthdir) = 0;
    virtual bool set_logger_limitsize(int id, unsigned int limit_mb) = 0;
    virtual bool update_config() = 0;
    virtual unsigned long long total_lines() = 0;
    virtual unsigned long long total_bytes() = 0;
    virtual unsigned long long bytes_waiting() = 0;
    virtual int active_logger_count() = 0;

    // The process-wide instance, created on first use.
    static ILogManager* get_instance();
};

// Observer of every line pushed to any logger (after formatting), for tests and
// tools that want the lines without reading files. Null removes it.
using log_line_hook = void (*)(void* ctx, int id, int level, const char* line);
void log_set_line_hook(log_line_hook hook, void* ctx);
