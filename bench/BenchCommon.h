// What every benchmark shares: a microsecond clock, sample statistics, and the
// rows of the one markdown table tools/bench.sh prints. Rows go to stdout,
// remarks about how a figure was obtained go to stderr.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/common/Harness.h"

namespace bench {

inline double NowUs() {
    static const double s_usPerTick = [] {
        LARGE_INTEGER freq;
        ::QueryPerformanceFrequency(&freq);
        return 1e6 / static_cast<double>(freq.QuadPart);
    }();
    LARGE_INTEGER count;
    ::QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * s_usPerTick;
}

struct Stats {
    double median = 0, q1 = 0, q3 = 0, min = 0, max = 0;
    size_t n = 0;
};

// Quantile of sorted samples, interpolating between neighbours.
inline double Quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    double pos = q * static_cast<double>(sorted.size() - 1);
    size_t lo = static_cast<size_t>(std::floor(pos));
    size_t hi = std::min(lo + 1, sorted.size() - 1);
    double frac = pos - static_cast<double>(lo);
    return sorted[lo] + (sorted[hi] - sorted[lo]) * frac;
}

inline Stats Summarize(std::vector<double> samples) {
    Stats s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    s.n = samples.size();
    s.median = Quantile(samples, 0.5);
    s.q1 = Quantile(samples, 0.25);
    s.q3 = Quantile(samples, 0.75);
    s.min = samples.front();
    s.max = samples.back();
    return s;
}

inline std::string Format(const char* pszFormat, ...) {
    char sz[512];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    return sz;
}

// Enough digits to show the figure without pretending to more.
inline int Decimals(double value) {
    double a = std::fabs(value);
    return a >= 100 ? 0 : a >= 10 ? 1 : a >= 1 ? 2 : 3;
}

inline std::string Num(double value, int nDecimals = -1) {
    return Format("%.*f", nDecimals < 0 ? Decimals(value) : nDecimals, value);
}

inline std::string Iqr(const Stats& s, const char* pszUnit, int nDecimals = -1) {
    if (nDecimals < 0) nDecimals = Decimals(s.median);
    return "IQR " + Num(s.q1, nDecimals) + "–" + Num(s.q3, nDecimals) + pszUnit;
}

inline std::string MinMax(const Stats& s, const char* pszUnit, int nDecimals = -1) {
    if (nDecimals < 0) nDecimals = Decimals(s.median);
    return "min–max " + Num(s.min, nDecimals) + "–" + Num(s.max, nDecimals) + pszUnit;
}

inline const char* Verdict(bool bMet) {
    return bMet ? "met" : "missed";
}

// One row: figure | median | spread | repetitions | target | verdict.
inline void Row(const std::string& figure, const std::string& median, const std::string& spread,
                size_t nReps, const char* pszTarget = "–", const char* pszVerdict = "–") {
    std::printf("| %s | %s | %s | %u | %s | %s |\n", figure.c_str(), median.c_str(), spread.c_str(),
                static_cast<unsigned>(nReps), pszTarget, pszVerdict);
    std::fflush(stdout);
}

// A time in microseconds with its interquartile range.
inline void TimeRow(const std::string& figure, const Stats& s, const char* pszTarget = "–",
                    const char* pszVerdict = "–") {
    int nDecimals = Decimals(s.median);
    Row(figure, Num(s.median, nDecimals) + " µs", Iqr(s, " µs", nDecimals), s.n, pszTarget,
        pszVerdict);
}

inline void Note(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(stderr, pszFormat, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// A Windows program's Linux process under Wine, found through Wine's Z: drive
// by the first word of its command line, the program's path; 0 where there is
// no /proc or no such process.
inline unsigned long UnixPidOf(const std::string& winPath) {
    WIN32_FIND_DATAA fd;
    HANDLE hFind = ::FindFirstFileA("Z:\\proc\\*", &fd);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    unsigned long found = 0;
    do {
        char* pEnd = nullptr;
        unsigned long pid = std::strtoul(fd.cFileName, &pEnd, 10);
        if (pid == 0 || *pEnd != '\0') continue;
        // The words are ended by NULs: the string stops after the first.
        std::string cmd = ReadWholeFile(std::string("Z:\\proc\\") + fd.cFileName + "\\cmdline");
        if (lstrcmpiA(cmd.c_str(), winPath.c_str()) == 0) found = pid;
    } while (found == 0 && ::FindNextFileA(hFind, &fd));
    ::FindClose(hFind);
    return found;
}

// The Linux kernel's count of the CPU time of all a process's threads, in
// nanoseconds (the first field of each thread's schedstat); -1 without it.
// The count stands still while a thread runs, which spoils a thread timing
// itself; the threads measured with it sleep nearly all the time: a reading
// is exact but for a thread caught running, and then short by at most its
// time since its last tick, which the next reading makes up.
inline double KernelCpuNs(unsigned long unixPid) {
    std::string dir = "Z:\\proc\\" + std::to_string(unixPid) + "\\task\\";
    WIN32_FIND_DATAA fd;
    HANDLE hFind = ::FindFirstFileA((dir + "*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return -1;
    double total = 0;
    bool bAny = false;
    do {
        if (fd.cFileName[0] == '.') continue;
        std::string s = ReadWholeFile(dir + fd.cFileName + "\\schedstat");
        if (s.empty()) continue;
        total += std::strtod(s.c_str(), nullptr);
        bAny = true;
    } while (::FindNextFileA(hFind, &fd));
    ::FindClose(hFind);
    return bAny ? total : -1;
}

}  // namespace bench
