// Vorlane.exe running on its simulated EC beside the floor and the baseline
// (bench_idle.exe /floor and bench_idle.exe: the same dialog and timers, a
// chart-sized child that copies one prepared bitmap per paint, or paints
// nothing), all three started at once from this folder, twice with Vorlane
// and the floor trading places: the CPU time of each as a share of one core,
// their ratios, and Vorlane's private bytes early and late in each run.
// VORLANE_BENCH_SECONDS sets a run's length (default 60); with
// VORLANE_BENCH_CONTROL=1 a second floor takes Vorlane's place, which shows
// what the measurement makes of two equal programs.
//
// Under Wine 8, GetProcessTimes of another process answers the caller's own
// times, and PrivateUsage stays 0. So a process's CPU time is the Linux
// kernel's count for its threads where /proc is reachable (Wine's Z: drive),
// else the sum of its threads' GetThreadTimes, and its private bytes are its
// committed private pages as VirtualQueryEx lists them; both are checked here
// against what they stand in for.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchCommon.h"
#include "tests/common/Counters.h"

namespace {

const int kSteps = 12;          // samples over the run
const int kStepsPerWindow = 2;  // CPU shares are taken over this many steps
const char kVorlaneCaption[] = "Vorlane by Tobrin Quarvisk..";
const char kBaselineCaption[] = "Vorlane benchmark baseline";
const char kFloorCaption[] = "Vorlane benchmark floor";
const char kControlCaption[] = "Vorlane benchmark control";
const WORD kIdcExit = 1006;

std::string ModuleDir() {
    char szPath[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string s(szPath);
    return s.substr(0, s.rfind('\\'));
}

ULONGLONG Ticks(const FILETIME& ft) {
    return static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

std::string ReadWholeFile(const std::string& path) {
    std::string s;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return s;
    char buf[4096];
    DWORD nRead = 0;
    while (::ReadFile(h, buf, sizeof(buf), &nRead, nullptr) && nRead != 0) s.append(buf, nRead);
    ::CloseHandle(h);
    return s;
}

// The Linux process whose command line is exactly this Windows path and these
// arguments ("path /floor"), by Wine's Z: drive; 0 when there is no /proc or
// no such process.
unsigned long FindUnixPid(const std::string& winCommand) {
    WIN32_FIND_DATAA fd;
    HANDLE hFind = ::FindFirstFileA("Z:\\proc\\*", &fd);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    unsigned long found = 0;
    do {
        char* pEnd = nullptr;
        unsigned long pid = std::strtoul(fd.cFileName, &pEnd, 10);
        if (pid == 0 || *pEnd != '\0') continue;
        std::string cmd = ReadWholeFile(std::string("Z:\\proc\\") + fd.cFileName + "\\cmdline");
        // Arguments are separated, and ended, by NULs.
        for (char& c : cmd) {
            if (c == '\0') c = ' ';
        }
        while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
        if (lstrcmpiA(cmd.c_str(), winCommand.c_str()) == 0) found = pid;
    } while (found == 0 && ::FindNextFileA(hFind, &fd));
    ::FindClose(hFind);
    return found;
}

// The kernel's count of CPU time of all the process's threads, in
// nanoseconds (the first field of each thread's schedstat); -1 without it.
double KernelCpuNs(unsigned long unixPid) {
    if (unixPid == 0) return -1;
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

ULONGLONG ProcessTimesOf(HANDLE hProcess) {
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (!::GetProcessTimes(hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser)) return 0;
    return Ticks(ftKernel) + Ticks(ftUser);
}

PROCESS_MEMORY_COUNTERS_EX MemoryCountersOf(HANDLE hProcess) {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc));
    return pmc;
}

// Private bytes: PrivateUsage where the system fills it, else the committed
// private pages.
SIZE_T PrivateBytesOf(HANDLE hProcess, bool* pbFromCounters) {
    *pbFromCounters = MemoryCountersOf(hProcess).PrivateUsage != 0;
    const long long nBytes = PrivateBytes(hProcess);
    return nBytes > 0 ? static_cast<SIZE_T>(nBytes) : 0;
}

struct FindCtx {
    DWORD pid;
    const char* pszCaption;
    HWND hFound;
};

BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam) {
    FindCtx* pCtx = reinterpret_cast<FindCtx*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    char szCaption[64] = {}, szClass[16] = {};
    ::GetWindowTextA(hWnd, szCaption, sizeof(szCaption));
    ::GetClassNameA(hWnd, szClass, sizeof(szClass));
    if (pid == pCtx->pid && lstrcmpA(szCaption, pCtx->pszCaption) == 0 &&
        lstrcmpA(szClass, "#32770") == 0 && ::IsWindowVisible(hWnd)) {
        pCtx->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}

class Child {
  public:
    Child(const std::string& path, const char* pszCaption, const char* pszArgs = "")
        : m_path(path), m_pszCaption(pszCaption) {
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        std::string cmd = "\"" + path + "\"" + pszArgs;
        m_command = path + pszArgs;
        std::string dir = path.substr(0, path.rfind('\\'));
        if (!::CreateProcessA(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                              dir.c_str(), &si, &m_pi)) {
            m_pi = {};
        }
    }
    ~Child() {
        if (m_pi.hProcess == nullptr) return;
        if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_pi.hProcess, 1);
            ::WaitForSingleObject(m_pi.hProcess, 10000);
        }
        ::CloseHandle(m_pi.hThread);
        ::CloseHandle(m_pi.hProcess);
    }

    bool Started() const { return m_pi.hProcess != nullptr; }
    bool Running() const {
        return Started() && ::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
    }
    HANDLE Handle() const { return m_pi.hProcess; }
    DWORD Pid() const { return m_pi.dwProcessId; }
    // The path and arguments, unquoted, as Linux lists the process.
    const std::string& CommandLine() const { return m_command; }
    HWND Window() const { return m_hWnd; }

    HWND FindWindowNow() {
        FindCtx ctx = {m_pi.dwProcessId, m_pszCaption, nullptr};
        ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&ctx));
        m_hWnd = ctx.hFound;
        return m_hWnd;
    }

    // Asks the window to close as a user would, then waits for the process.
    bool Close(WPARAM wCommand) {
        if (m_hWnd != nullptr) ::PostMessageA(m_hWnd, WM_COMMAND, wCommand, 0);
        return ::WaitForSingleObject(m_pi.hProcess, 10000) == WAIT_OBJECT_0;
    }

  private:
    std::string m_path;
    std::string m_command;
    const char* m_pszCaption;
    PROCESS_INFORMATION m_pi = {};
    HWND m_hWnd = nullptr;
};

struct CpuSample {
    double tUs;
    ULONGLONG threadTicks;
    double kernelNs;
};

// Under Wine a thread's times count in 10 ms ticks, which over a 10-s window
// is a tenth of the ~1 % being compared; the kernel's count is in
// nanoseconds. Shares use the kernel's count wherever every sample has it.
bool g_bKernelClock = true;

double ThreadSharePct(const CpuSample& a, const CpuSample& b) {
    return static_cast<double>(b.threadTicks - a.threadTicks) * 0.1 / (b.tUs - a.tUs) * 100.0;
}

double KernelSharePct(const CpuSample& a, const CpuSample& b) {
    return (b.kernelNs - a.kernelNs) / 1000.0 / (b.tUs - a.tUs) * 100.0;
}

// CPU share of one core, in percent, between two samples.
double SharePct(const CpuSample& a, const CpuSample& b) {
    return g_bKernelClock ? KernelSharePct(a, b) : ThreadSharePct(a, b);
}

long KiBDelta(SIZE_T before, SIZE_T after) {
    return static_cast<long>((static_cast<long long>(after) - static_cast<long long>(before)) /
                             1024);
}

std::string KiB(SIZE_T bytes) {
    return bench::Format("%lu KiB", static_cast<unsigned long>(bytes / 1024));
}

enum { kVorlane, kFloor, kBaseline, kPrograms };

// One run of the three programs side by side.
struct Leg {
    std::vector<CpuSample> cpu[kPrograms];
    SIZE_T mem[2] = {}, pagefile[2] = {};  // before and after the CPU samples
    bool bFromCounters = false;
    int nThreads[kPrograms] = {};
    unsigned long unixPid[kPrograms] = {};
    ULONGLONG processTimes = 0, ownTimes = 0;  // GetProcessTimes over the run
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    bool bClosed = false;
};

// Per-window shares of one program over every leg, and the mean of the legs'
// whole-run shares.
void CpuRow(const std::string& figure, const std::vector<Leg>& legs, int nProgram) {
    std::vector<double> windows;
    double wholeSum = 0;
    for (const Leg& leg : legs) {
        const std::vector<CpuSample>& s = leg.cpu[nProgram];
        for (size_t i = kStepsPerWindow; i < s.size(); i += kStepsPerWindow) {
            windows.push_back(SharePct(s[i - kStepsPerWindow], s[i]));
        }
        wholeSum += SharePct(s.front(), s.back());
    }
    bench::Stats st = bench::Summarize(windows);
    const std::vector<CpuSample>& s0 = legs.front().cpu[nProgram];
    double windowSeconds = (s0[kStepsPerWindow].tUs - s0[0].tUs) / 1e6;
    std::string spread = bench::MinMax(st, " %", 2) +
                         bench::Format(" (%.0f-s windows)", windowSeconds) + "; whole runs " +
                         bench::Num(wholeSum / legs.size(), 2) + " %";
    bench::Row(figure, bench::Num(st.median, 2) + " %", spread, st.n);
}

// The ratio of two programs' CPU shares, window by window in the same run,
// pooled over the legs; the whole-run figure is the geometric mean of the
// legs' ratios, so that a place's or a start's advantage counts once for
// each program.
void RatioRow(const std::string& figure, const std::vector<Leg>& legs, int a, int b,
              const char* const* legNames, double target) {
    std::vector<double> ratios;
    double logSum = 0;
    std::string perLeg;
    for (size_t n = 0; n < legs.size(); ++n) {
        const std::vector<CpuSample>& sa = legs[n].cpu[a];
        const std::vector<CpuSample>& sb = legs[n].cpu[b];
        for (size_t i = kStepsPerWindow; i < sa.size(); i += kStepsPerWindow) {
            double shareB = SharePct(sb[i - kStepsPerWindow], sb[i]);
            if (shareB > 0) ratios.push_back(SharePct(sa[i - kStepsPerWindow], sa[i]) / shareB);
        }
        double whole = SharePct(sa.front(), sa.back()) / SharePct(sb.front(), sb.back());
        logSum += std::log(whole);
        perLeg += bench::Format("; %s %.2f×", legNames[n], whole);
    }
    if (ratios.empty()) return;
    bench::Stats st = bench::Summarize(ratios);
    double whole = std::exp(logSum / legs.size());
    std::string spread =
        bench::MinMax(st, "×", 2) + "; whole runs " + bench::Num(whole, 2) + "×" + perLeg;
    std::string pszTarget = target > 0 ? bench::Format("≤ %.1f×", target) : "–";
    bench::Row(figure, bench::Num(st.median, 2) + "×", spread, st.n, pszTarget.c_str(),
               target > 0 ? bench::Verdict(st.median <= target && whole <= target) : "–");
}

// What runs in each of the three places. The first may be a second floor
// instead of Vorlane.exe: a control that shows what the measurement itself
// makes of two equal programs.
struct Program {
    std::string path;
    const char* pszCaption;
    const char* pszArgs;
    WORD wClose;
};

// Runs the three programs for nSeconds, starting and placing them in the
// given order (the first top left, the second below it, the third top
// right), and samples them kSteps times.
bool RunLeg(const Program* programs, const int* order, double stepUs, Leg* pLeg) {
    std::unique_ptr<Child> children[kPrograms];
    for (int n = 0; n < kPrograms; ++n) {
        const Program& p = programs[order[n]];
        children[order[n]].reset(new Child(p.path, p.pszCaption, p.pszArgs));
        if (!children[order[n]]->Started()) {
            bench::Note("bench_process: could not start %s", p.path.c_str());
            return false;
        }
    }
    double tWait = bench::NowUs();
    for (auto& c : children) {
        while (c->FindWindowNow() == nullptr) {
            if (bench::NowUs() - tWait > 30e6 || !c->Running()) {
                bench::Note("bench_process: the window of %s did not appear",
                            c->CommandLine().c_str());
                return false;
            }
            ::Sleep(20);
        }
    }

    // Apart on the desktop: a window under another paints less.
    RECT rc[kPrograms];
    for (int i = 0; i < kPrograms; ++i) ::GetWindowRect(children[i]->Window(), &rc[i]);
    const int cxScreen = ::GetSystemMetrics(SM_CXSCREEN);
    const RECT& rcFirst = rc[order[0]];
    POINT at[kPrograms] = {{0, 0},
                           {0, rcFirst.bottom - rcFirst.top},
                           {cxScreen - (rc[order[2]].right - rc[order[2]].left), 0}};
    for (int n = 0; n < kPrograms; ++n) {
        ::SetWindowPos(children[order[n]]->Window(), nullptr, at[n].x, at[n].y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (int i = 0; i < kPrograms; ++i) ::GetWindowRect(children[i]->Window(), &rc[i]);
    for (int i = 0; i < kPrograms; ++i) {
        for (int j = i + 1; j < kPrograms; ++j) {
            RECT rcOverlap;
            if (::IntersectRect(&rcOverlap, &rc[i], &rc[j])) {
                bench::Note("bench_process: windows %d and %d overlap (desktop %dx%d)", i, j,
                            cxScreen, ::GetSystemMetrics(SM_CYSCREEN));
            }
        }
    }

    for (int i = 0; i < kPrograms; ++i) {
        pLeg->unixPid[i] = FindUnixPid(children[i]->CommandLine());
    }
    // Memory is read only before and after the CPU samples: under Wine,
    // VirtualQueryEx of another process runs in that process (a system APC
    // per call, one call per region), so reading it during the run charged
    // Vorlane alone for the measuring.
    Child& vorlane = *children[kVorlane];
    ::Sleep(static_cast<DWORD>(stepUs / 1000));
    pLeg->mem[0] = PrivateBytesOf(vorlane.Handle(), &pLeg->bFromCounters);
    pLeg->pagefile[0] = MemoryCountersOf(vorlane.Handle()).PagefileUsage;
    double t0 = bench::NowUs();
    ULONGLONG processTimes0 = ProcessTimesOf(vorlane.Handle());
    ULONGLONG ownTimes0 = ProcessTimesOf(::GetCurrentProcess());
    for (int nStep = 0; nStep <= kSteps; ++nStep) {
        if (nStep > 0) {
            HANDLE handles[kPrograms];
            for (int i = 0; i < kPrograms; ++i) handles[i] = children[i]->Handle();
            double tWake = t0 + nStep * stepUs;
            double tLeft = tWake - bench::NowUs();
            if (tLeft > 0 &&
                ::WaitForMultipleObjects(kPrograms, handles, FALSE,
                                         static_cast<DWORD>(tLeft / 1000)) != WAIT_TIMEOUT) {
                bench::Note("bench_process: a process ended during the run");
                return false;
            }
        }
        double tNow = bench::NowUs();
        for (int i = 0; i < kPrograms; ++i) {
            bench::ThreadCpu t = bench::ThreadCpuOf(children[i]->Pid());
            double kernelNs = KernelCpuNs(pLeg->unixPid[i]);
            if (kernelNs < 0) g_bKernelClock = false;
            pLeg->cpu[i].push_back({tNow, t.ticks, kernelNs});
            if (t.nRead != t.nThreads) {
                bench::Note("bench_process: read %d of %d threads of %s", t.nRead, t.nThreads,
                            children[i]->CommandLine().c_str());
            }
            if (pLeg->nThreads[i] != 0 && t.nThreads != pLeg->nThreads[i]) {
                bench::Note("bench_process: thread count of %s changed during the run",
                            children[i]->CommandLine().c_str());
            }
            pLeg->nThreads[i] = t.nThreads;
        }
    }
    pLeg->processTimes = ProcessTimesOf(vorlane.Handle()) - processTimes0;
    pLeg->ownTimes = ProcessTimesOf(::GetCurrentProcess()) - ownTimes0;
    pLeg->mem[1] = PrivateBytesOf(vorlane.Handle(), &pLeg->bFromCounters);
    pLeg->pmc = MemoryCountersOf(vorlane.Handle());
    pLeg->pagefile[1] = pLeg->pmc.PagefileUsage;

    pLeg->bClosed = true;
    for (int i = 0; i < kPrograms; ++i) {
        pLeg->bClosed =
            children[i]->Close(MAKEWPARAM(programs[i].wClose, BN_CLICKED)) && pLeg->bClosed;
    }
    return true;
}

}  // namespace

int main() {
    int nSeconds = 60;
    if (const char* psz = std::getenv("VORLANE_BENCH_SECONDS")) nSeconds = std::atoi(psz);
    if (nSeconds < 2 * kStepsPerWindow) nSeconds = 2 * kStepsPerWindow;
    const double stepUs = nSeconds * 1e6 / kSteps;
    const char* pszControl = std::getenv("VORLANE_BENCH_CONTROL");
    const bool bControl = pszControl != nullptr && *pszControl != '\0' && *pszControl != '0';

    // Private bytes must follow memory the process commits, and the page-file
    // count is watched for what it follows: check both on our own memory.
    {
        bool bFromCounters = false;
        HANDLE hSelf = ::GetCurrentProcess();
        SIZE_T privateBefore = PrivateBytesOf(hSelf, &bFromCounters);
        SIZE_T pagefileBefore = MemoryCountersOf(hSelf).PagefileUsage;
        const SIZE_T kProbe = 16 << 20;
        char* p = static_cast<char*>(
            ::VirtualAlloc(nullptr, kProbe, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        SIZE_T privateCommitted = PrivateBytesOf(hSelf, &bFromCounters);
        SIZE_T pagefileCommitted = MemoryCountersOf(hSelf).PagefileUsage;
        for (SIZE_T i = 0; p != nullptr && i < kProbe; i += 4096) p[i] = 1;
        SIZE_T pagefileTouched = MemoryCountersOf(hSelf).PagefileUsage;
        ::VirtualFree(p, 0, MEM_RELEASE);
        bench::Note(
            "bench_process: private bytes from %s; committing 16384 KiB here moved them by "
            "%ld KiB; PagefileUsage moved by %ld KiB on commit and %ld KiB more once "
            "every page was touched",
            bFromCounters ? "PrivateUsage" : "VirtualQueryEx (PrivateUsage is 0)",
            KiBDelta(privateBefore, privateCommitted), KiBDelta(pagefileBefore, pagefileCommitted),
            KiBDelta(pagefileCommitted, pagefileTouched));
    }

    bench::UseOwnSimulatedEc("Run");
    std::string dir = ModuleDir();
    const char* pszSubject = bControl ? "Control (a second floor)" : "Vorlane.exe";
    Program programs[kPrograms] = {
        bControl ? Program{dir + "\\bench_idle.exe", kControlCaption, " /floor /control", IDCANCEL}
                 : Program{dir + "\\Vorlane.exe", kVorlaneCaption, "", kIdcExit},
        {dir + "\\bench_idle.exe", kFloorCaption, " /floor", IDCANCEL},
        {dir + "\\bench_idle.exe", kBaselineCaption, "", IDCANCEL}};

    // Measured side by side, a program started first or placed top left costs
    // measurably more than its equal started second or placed below (a
    // second floor in Vorlane's place read up to 1.4 times the floor). So
    // the run is made twice, Vorlane and the floor trading their start and
    // their place; the baseline starts last, top right, both times.
    const int orders[2][kPrograms] = {{kVorlane, kFloor, kBaseline}, {kFloor, kVorlane, kBaseline}};
    const char* const legNames[2] = {bControl ? "control first" : "Vorlane first", "floor first"};
    std::vector<Leg> legs(2);
    for (int n = 0; n < 2; ++n) {
        if (!RunLeg(programs, orders[n], stepUs, &legs[n])) return 1;
    }

    const std::string source = g_bKernelClock ? "Linux kernel's count of its threads' run time"
                                              : "sum of its threads' GetThreadTimes";
    CpuRow(bench::Format("%s CPU, %% of one core, 2 runs of %d s on the simulated EC (%s)",
                         pszSubject, nSeconds, source.c_str()),
           legs, kVorlane);
    CpuRow(bench::Format("Floor: the same dialog and timers, the chart-sized child copying one "
                         "prepared %dx%d bitmap per paint, CPU, %% of one core, same runs",
                         458, 161),
           legs, kFloor);
    CpuRow(
        "Baseline: the same dialog and timers, the child painting nothing, CPU, % of one core, "
        "same runs",
        legs, kBaseline);
    RatioRow(bench::Format("%s ÷ floor, CPU (per-window ratios, both runs)", pszSubject), legs,
             kVorlane, kFloor, legNames, 1.1);
    RatioRow("Floor ÷ baseline, CPU (per-window ratios, both runs)", legs, kFloor, kBaseline,
             legNames, 0);
    if (g_bKernelClock) {
        double share[kPrograms] = {};
        for (const Leg& leg : legs) {
            for (int i = 0; i < kPrograms; ++i) {
                share[i] += ThreadSharePct(leg.cpu[i].front(), leg.cpu[i].back()) / legs.size();
            }
        }
        bench::Row(bench::Format("Cross-check, sum of GetThreadTimes (10 ms ticks under Wine), "
                                 "whole runs: %s / floor / baseline",
                                 pszSubject),
                   bench::Num(share[kVorlane], 2) + " % / " + bench::Num(share[kFloor], 2) +
                       " % / " + bench::Num(share[kBaseline], 2) + " %",
                   "–", legs.size());
    }

    const Leg& first = legs.front();
    const char* pszSource =
        first.bFromCounters ? "PrivateUsage" : "VirtualQueryEx: committed private";
    const double firstSeconds = stepUs / 1e6;
    bench::Row(bench::Format("%s private bytes %.0f s after its window appeared (%s)", pszSubject,
                             firstSeconds, pszSource),
               KiB(first.mem[0]), "–", 1);
    long growth = 0;
    std::string perLeg;
    for (size_t n = 0; n < legs.size(); ++n) {
        long g = KiBDelta(legs[n].mem[0], legs[n].mem[1]);
        if (g > growth) growth = g;
        perLeg +=
            bench::Format("%s%s %+ld KiB", n == 0 ? "growth over the run: " : "; ", legNames[n], g);
    }
    bench::Row(bench::Format("%s private bytes %d s later (first run)", pszSubject, nSeconds),
               KiB(first.mem[1]), perLeg, legs.size(), "no growth", bench::Verdict(growth <= 0));
    bench::Row(bench::Format("%s PagefileUsage %d s later (first run; under Wine: resident "
                             "anonymous pages)",
                             pszSubject, nSeconds),
               KiB(first.pagefile[1]),
               bench::Format("growth over the run %+ld KiB",
                             KiBDelta(first.pagefile[0], first.pagefile[1])),
               1);

    for (size_t n = 0; n < legs.size(); ++n) {
        const Leg& leg = legs[n];
        bench::Note(
            "bench_process, %s: threads: %s %d, floor %d, baseline %d; Linux pids %lu, %lu, %lu",
            legNames[n], pszSubject, leg.nThreads[kVorlane], leg.nThreads[kFloor],
            leg.nThreads[kBaseline], leg.unixPid[kVorlane], leg.unixPid[kFloor],
            leg.unixPid[kBaseline]);
        bench::Note(
            "bench_process, %s: GetProcessTimes gave %.2f s for %s and %.2f s for this "
            "process; the sum of its thread times was %.2f s",
            legNames[n], leg.processTimes / 1e7, pszSubject, leg.ownTimes / 1e7,
            (leg.cpu[kVorlane].back().threadTicks - leg.cpu[kVorlane].front().threadTicks) / 1e7);
        bench::Note(
            "bench_process, %s: %s at the end: PrivateUsage %lu KiB, PagefileUsage %lu KiB, "
            "working set %lu KiB",
            legNames[n], pszSubject, static_cast<unsigned long>(leg.pmc.PrivateUsage / 1024),
            static_cast<unsigned long>(leg.pmc.PagefileUsage / 1024),
            static_cast<unsigned long>(leg.pmc.WorkingSetSize / 1024));
        if (!leg.bClosed) bench::Note("bench_process, %s: a process had to be ended", legNames[n]);
    }
    return 0;
}
