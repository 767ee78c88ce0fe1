#pragma once
// Logging statements of the whole program. Each asks the manager whether the
// level is enabled before formatting anything, then appends the source file
// (relative to the source root) and line, and pushes to logger 0.
#include "log/ILogManager.h"

// Formats "<message> ( <relative file> ) : <line>" into buf (2048 bytes).
void log_format_statement(char* buf, unsigned size, const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

#define KVM_LOG(level, ...)                                                        \
    do {                                                                           \
        ILogManager* kvm_log_mgr_ = ILogManager::get_instance();                   \
        if (kvm_log_mgr_->is_logger_enabled(0, (level))) {                         \
            char kvm_log_buf_[2048];                                               \
            log_format_statement(kvm_log_buf_, sizeof kvm_log_buf_, __FILE__,      \
                                 __LINE__, __VA_ARGS__);                           \
            kvm_log_mgr_->push_log(0, (level), kvm_log_buf_);                      \
        }                                                                          \
    } while (0)

#define LOG_TRACE(...) KVM_LOG(LOG_LEVEL_TRACE, __VA_ARGS__)
#define LOG_DEBUG(...) KVM_LOG(LOG_LEVEL_DEBUG, __VA_ARGS__)
#define LOG_INFO(...) KVM_LOG(LOG_LEVEL_INFO, __VA_ARGS__)
#define LOG_WARN(...) KVM_LOG(LOG_LEVEL_WARN, __VA_ARGS__)
#define LOG_ERROR(...) KVM_LOG(LOG_LEVEL_ERROR, __VA_ARGS__)
#define LOG_ALARM(...) KVM_LOG(LOG_LEVEL_ALARM, __VA_ARGS__)
#define LOG_FATAL(...) KVM_LOG(LOG_LEVEL_FATAL, __VA_ARGS__)
