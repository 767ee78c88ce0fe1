#pragma once
// Figures for the benchmarks: a clock, medians and percentiles, and the rows
// that scripts/bench.sh gathers into one table. A row on standard output is
//   BENCH|<benchmark>|<figure>|<viewer>|<reference>|<ratio>|<goal>|<met>
// (empty fields allowed); everything else a benchmark says goes to standard
// error. Rounds are interleaved with their reference in the same process,
// because the machines are shared and their speed drifts.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

using clock = std::chrono::steady_clock;

inline double ms_between(clock::time_point a, clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

inline double seconds_between(clock::time_point a, clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Nearest-rank percentile (p in 0..100) of the values; 0 when there are none.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const double rank = std::ceil(p / 100.0 * double(v.size()));
    const size_t i = rank < 1.0 ? 0 : std::min(v.size() - 1, size_t(rank) - 1);
    return v[i];
}

inline double median(const std::vector<double>& v)
{
    if (v.empty())
        return 0.0;
    std::vector<double> s(v);
    std::sort(s.begin(), s.end());
    const size_t n = s.size();
    return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2.0;
}

inline std::string fmt(double v, int decimals = 1)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

inline void row(const std::string& benchmark, const std::string& figure, const std::string& viewer,
                const std::string& reference = std::string(), const std::string& ratio = std::string(),
                const std::string& goal = std::string(), const std::string& met = std::string())
{
    std::printf("BENCH|%s|%s|%s|%s|%s|%s|%s\n", benchmark.c_str(), figure.c_str(), viewer.c_str(),
                reference.c_str(), ratio.c_str(), goal.c_str(), met.c_str());
    std::fflush(stdout);
}

inline const char* yes_no(bool met)
{
    return met ? "yes" : "no";
}

// Number of rounds: BENCH_ROUNDS from the environment, else the default.
inline int rounds(int fallback)
{
    const char* e = std::getenv("BENCH_ROUNDS");
    const int n = e ? std::atoi(e) : 0;
    return n > 0 ? n : fallback;
}

inline void note(const char* fmt_text, ...) __attribute__((format(printf, 1, 2)));
inline void note(const char* fmt_text, ...)
{
    va_list ap;
    va_start(ap, fmt_text);
    std::vfprintf(stderr, fmt_text, ap);
    va_end(ap);
    std::fputc('\n', stderr);
}

}  // namespace bench
