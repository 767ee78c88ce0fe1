#pragma once
// CPU time of this process's threads by name, from /proc/self/task, so a
// benchmark can say where the time of a run went (receive thread, GUI thread).
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace bench {

// Thread name -> CPU seconds (user + system), summed over threads of that name.
inline std::map<std::string, double> thread_cpu()
{
    std::map<std::string, double> out;
    const double tick = double(sysconf(_SC_CLK_TCK));
    DIR* d = opendir("/proc/self/task");
    if (!d)
        return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        char path[320];
        std::snprintf(path, sizeof path, "/proc/self/task/%s/stat", e->d_name);
        FILE* f = std::fopen(path, "r");
        if (!f)
            continue;
        char buf[1024] = {};
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        buf[n] = 0;
        // pid (comm) state ... utime is field 14, stime 15; comm may hold blanks.
        char* open = std::strchr(buf, '(');
        char* close = std::strrchr(buf, ')');
        if (!open || !close)
            continue;
        const std::string name(open + 1, close);
        unsigned long utime = 0, stime = 0;
        if (std::sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) == 2)
            out[name] += double(utime + stime) / tick;
    }
    closedir(d);
    return out;
}

// CPU seconds each thread name spent between two snapshots.
inline std::map<std::string, double> cpu_spent(const std::map<std::string, double>& before,
                                               const std::map<std::string, double>& after)
{
    std::map<std::string, double> out;
    for (const auto& a : after) {
        const auto b = before.find(a.first);
        const double d = a.second - (b == before.end() ? 0.0 : b->second);
        if (d > 0)
            out[a.first] = d;
    }
    return out;
}

}  // namespace bench

namespace bench {

// Voluntary plus involuntary context switches of all of this process's
// threads (each one a wake-up or a preemption), from /proc/self/task.
inline unsigned long long context_switches()
{
    unsigned long long sum = 0;
    DIR* d = opendir("/proc/self/task");
    if (!d)
        return 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        char path[320];
        std::snprintf(path, sizeof path, "/proc/self/task/%s/status", e->d_name);
        FILE* f = std::fopen(path, "r");
        if (!f)
            continue;
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned long long v = 0;
            if (std::sscanf(line, "voluntary_ctxt_switches: %llu", &v) == 1 ||
                std::sscanf(line, "nonvoluntary_ctxt_switches: %llu", &v) == 1)
                sum += v;
        }
        std::fclose(f);
    }
    closedir(d);
    return sum;
}

// CPU seconds (user + system) of another process from /proc/PID/stat; -1
// when it is gone.
inline double process_cpu(long pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    char buf[1024] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    const char* close = std::strrchr(buf, ')');
    unsigned long utime = 0, stime = 0;
    if (!close || std::sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace bench
