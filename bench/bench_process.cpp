// Vorlane.exe running on its simulated EC beside the floor and the baseline
// (bench_idle.exe /floor and bench_idle.exe: the same dialog and timers, a
// chart-sized child that copies one prepared bitmap per paint, or paints
// nothing), all three started at once from this folder: the CPU time of each
// as a share of one core, their ratios, and Vorlane's private bytes early and
// late in the run. VORLANE_BENCH_SECONDS sets the run's length (default 60).
//
// Under Wine 8, GetProcessTimes of another process answers the caller's own
// times, and PrivateUsage stays 0. So a process's CPU time is the sum of its
// threads' GetThreadTimes, and its private bytes are its committed private
// pages as VirtualQueryEx lists them; both are checked here against what
// they stand in for. Where Linux's /proc is reachable (Wine's Z: drive), the
// kernel's own count of the process's CPU time is shown beside.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchCommon.h"

namespace {

const int kSteps = 12;          // samples over the run
const int kStepsPerWindow = 2;  // CPU shares are taken over this many steps
const char kVorlaneCaption[] = "Vorlane by Tobrin Quarvisk..";
const char kBaselineCaption[] = "Vorlane benchmark baseline";
const char kFloorCaption[] = "Vorlane benchmark floor";
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

// Committed pages private to the process, as VirtualQueryEx lists them.
SIZE_T CommittedPrivateBytes(HANDLE hProcess) {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    const char* p = nullptr;
    while (::VirtualQueryEx(hProcess, p, &mbi, sizeof(mbi)) == sizeof(mbi)) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
        const char* pNext = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
        if (pNext <= p) break;
        p = pNext;
    }
    return total;
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
    PROCESS_MEMORY_COUNTERS_EX pmc = MemoryCountersOf(hProcess);
    *pbFromCounters = pmc.PrivateUsage != 0;
    return pmc.PrivateUsage != 0 ? pmc.PrivateUsage : CommittedPrivateBytes(hProcess);
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

// CPU share of one core, in percent, between two samples.
double SharePct(const CpuSample& a, const CpuSample& b) {
    return static_cast<double>(b.threadTicks - a.threadTicks) * 0.1 / (b.tUs - a.tUs) * 100.0;
}

double KernelSharePct(const CpuSample& a, const CpuSample& b) {
    return (b.kernelNs - a.kernelNs) / 1000.0 / (b.tUs - a.tUs) * 100.0;
}

long KiBDelta(SIZE_T before, SIZE_T after) {
    return static_cast<long>((static_cast<long long>(after) - static_cast<long long>(before)) /
                             1024);
}

std::string KiB(SIZE_T bytes) {
    return bench::Format("%lu KiB", static_cast<unsigned long>(bytes / 1024));
}

// The range of a memory figure over the run, and its change since the first
// sample.
std::string MemorySpread(const std::vector<SIZE_T>& samples, double stepSeconds) {
    SIZE_T lo = samples.front(), hi = samples.front();
    for (SIZE_T m : samples) {
        if (m < lo) lo = m;
        if (m > hi) hi = m;
    }
    return "min–max " + KiB(lo) + "–" + KiB(hi) +
           bench::Format(" (every %.0f s); growth since %.0f s: %+ld KiB", stepSeconds, stepSeconds,
                         KiBDelta(samples.front(), samples.back()));
}

// The share of one core over the run's windows, and over the whole run.
void CpuRow(const std::string& figure, const std::vector<CpuSample>& s, const char* pszTarget,
            bool bVerdict) {
    std::vector<double> windows;
    for (size_t i = kStepsPerWindow; i < s.size(); i += kStepsPerWindow) {
        windows.push_back(SharePct(s[i - kStepsPerWindow], s[i]));
    }
    bench::Stats st = bench::Summarize(windows);
    double whole = SharePct(s.front(), s.back());
    double windowSeconds = (s[kStepsPerWindow].tUs - s[0].tUs) / 1e6;
    std::string spread = bench::MinMax(st, " %", 2) +
                         bench::Format(" (%.0f-s windows)", windowSeconds) + "; whole run " +
                         bench::Num(whole, 2) + " %";
    bench::Row(figure, bench::Num(st.median, 2) + " %", spread, st.n, pszTarget,
               bVerdict ? bench::Verdict(st.median <= 0.5 && whole <= 0.5) : "–");
}

// The ratio of two programs' CPU shares, window by window over the same run,
// with a target where one is given.
void RatioRow(const std::string& figure, const std::vector<CpuSample>& a,
              const std::vector<CpuSample>& b, double target) {
    std::vector<double> ratios;
    for (size_t i = kStepsPerWindow; i < a.size(); i += kStepsPerWindow) {
        double shareB = SharePct(b[i - kStepsPerWindow], b[i]);
        if (shareB > 0) ratios.push_back(SharePct(a[i - kStepsPerWindow], a[i]) / shareB);
    }
    if (ratios.empty()) return;
    bench::Stats st = bench::Summarize(ratios);
    double whole = SharePct(a.front(), a.back()) / SharePct(b.front(), b.back());
    std::string spread = bench::MinMax(st, "×", 2) + "; whole run " + bench::Num(whole, 2) + "×";
    std::string pszTarget = target > 0 ? bench::Format("≤ %.1f×", target) : "–";
    bench::Row(figure, bench::Num(st.median, 2) + "×", spread, st.n, pszTarget.c_str(),
               target > 0 ? bench::Verdict(st.median <= target) : "–");
}

}  // namespace

int main() {
    int nSeconds = 60;
    if (const char* psz = std::getenv("VORLANE_BENCH_SECONDS")) nSeconds = std::atoi(psz);
    if (nSeconds < 2 * kStepsPerWindow) nSeconds = 2 * kStepsPerWindow;
    const double stepUs = nSeconds * 1e6 / kSteps;

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
    // Vorlane first, then the floor, then the baseline, throughout.
    enum { kVorlane, kFloor, kBaseline, kPrograms };
    Child vorlane(dir + "\\Vorlane.exe", kVorlaneCaption);
    Child floor(dir + "\\bench_idle.exe", kFloorCaption, " /floor");
    Child baseline(dir + "\\bench_idle.exe", kBaselineCaption);
    Child* children[kPrograms] = {&vorlane, &floor, &baseline};
    for (Child* c : children) {
        if (!c->Started()) {
            bench::Note("bench_process: could not start %s", c->CommandLine().c_str());
            return 1;
        }
    }
    double tWait = bench::NowUs();
    for (Child* c : children) {
        while (c->FindWindowNow() == nullptr) {
            if (bench::NowUs() - tWait > 30e6 || !c->Running()) {
                bench::Note("bench_process: the window of %s did not appear",
                            c->CommandLine().c_str());
                return 1;
            }
            ::Sleep(20);
        }
    }

    // Apart on the desktop: a window under another paints less. Vorlane top
    // left, the baseline top right, the floor below Vorlane.
    RECT rc[kPrograms];
    for (int i = 0; i < kPrograms; ++i) ::GetWindowRect(children[i]->Window(), &rc[i]);
    int cxScreen = ::GetSystemMetrics(SM_CXSCREEN);
    ::SetWindowPos(baseline.Window(), nullptr,
                   cxScreen - (rc[kBaseline].right - rc[kBaseline].left), rc[kVorlane].top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(floor.Window(), nullptr, rc[kVorlane].left, rc[kVorlane].bottom, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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

    unsigned long unixPid[kPrograms];
    for (int i = 0; i < kPrograms; ++i) {
        unixPid[i] = FindUnixPid(children[i]->CommandLine());
    }

    std::vector<CpuSample> cpu[kPrograms];
    std::vector<SIZE_T> memV, pagefileV;
    bool bFromCounters = false;
    double t0 = bench::NowUs();
    ULONGLONG processTimes0 = ProcessTimesOf(vorlane.Handle());
    ULONGLONG ownTimes0 = ProcessTimesOf(::GetCurrentProcess());
    int nThreads[kPrograms] = {};
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
                return 1;
            }
        }
        double tNow = bench::NowUs();
        for (int i = 0; i < kPrograms; ++i) {
            bench::ThreadCpu t = bench::ThreadCpuOf(children[i]->Pid());
            cpu[i].push_back({tNow, t.ticks, KernelCpuNs(unixPid[i])});
            if (t.nRead != t.nThreads) {
                bench::Note("bench_process: read %d of %d threads of %s", t.nRead, t.nThreads,
                            children[i]->CommandLine().c_str());
            }
            if (nThreads[i] != 0 && t.nThreads != nThreads[i]) {
                bench::Note("bench_process: thread count of %s changed during the run",
                            children[i]->CommandLine().c_str());
            }
            nThreads[i] = t.nThreads;
        }
        if (nStep > 0) {
            memV.push_back(PrivateBytesOf(vorlane.Handle(), &bFromCounters));
            pagefileV.push_back(MemoryCountersOf(vorlane.Handle()).PagefileUsage);
        }
    }
    ULONGLONG processTimes1 = ProcessTimesOf(vorlane.Handle());
    ULONGLONG ownTimes1 = ProcessTimesOf(::GetCurrentProcess());
    PROCESS_MEMORY_COUNTERS_EX pmc = MemoryCountersOf(vorlane.Handle());

    bool bClosed = vorlane.Close(MAKEWPARAM(kIdcExit, BN_CLICKED));
    bClosed = floor.Close(MAKEWPARAM(IDCANCEL, BN_CLICKED)) && bClosed;
    bClosed = baseline.Close(MAKEWPARAM(IDCANCEL, BN_CLICKED)) && bClosed;

    CpuRow(bench::Format("Vorlane.exe CPU, %% of one core, %d s on the simulated EC (sum of its "
                         "threads' GetThreadTimes)",
                         nSeconds),
           cpu[kVorlane], "–", false);
    CpuRow(bench::Format("Floor: the same dialog and timers, the chart-sized child copying one "
                         "prepared %dx%d bitmap per paint, CPU, %% of one core, same %d s",
                         458, 161, nSeconds),
           cpu[kFloor], "–", false);
    CpuRow(bench::Format("Baseline: the same dialog and timers, the child painting nothing, CPU, "
                         "%% of one core, same %d s",
                         nSeconds),
           cpu[kBaseline], "–", false);
    RatioRow("Vorlane.exe ÷ floor, CPU (per-window ratios)", cpu[kVorlane], cpu[kFloor], 1.1);
    RatioRow("Floor ÷ baseline, CPU (per-window ratios)", cpu[kFloor], cpu[kBaseline], 0);
    if (cpu[kVorlane].front().kernelNs >= 0 && cpu[kFloor].front().kernelNs >= 0 &&
        cpu[kBaseline].front().kernelNs >= 0) {
        bench::Row(
            "Cross-check, Linux kernel's count (/proc schedstat, all threads), whole run: "
            "Vorlane.exe / floor / baseline",
            bench::Num(KernelSharePct(cpu[kVorlane].front(), cpu[kVorlane].back()), 2) + " % / " +
                bench::Num(KernelSharePct(cpu[kFloor].front(), cpu[kFloor].back()), 2) + " % / " +
                bench::Num(KernelSharePct(cpu[kBaseline].front(), cpu[kBaseline].back()), 2) + " %",
            "–", 1);
    }
    const char* pszSource = bFromCounters ? "PrivateUsage" : "VirtualQueryEx: committed private";
    double firstSeconds = stepUs / 1e6;
    bench::Row(bench::Format("Vorlane.exe private bytes at %.0f s (%s)", firstSeconds, pszSource),
               KiB(memV.front()), "–", 1);
    long growth = KiBDelta(memV.front(), memV.back());
    bench::Row(bench::Format("Vorlane.exe private bytes at %d s", nSeconds), KiB(memV.back()),
               MemorySpread(memV, firstSeconds), memV.size(),
               bench::Format("no growth after %.0f s", firstSeconds).c_str(),
               bench::Verdict(growth <= 0));
    bench::Row(bench::Format("Vorlane.exe PagefileUsage at %d s (under Wine: resident anonymous "
                             "pages)",
                             nSeconds),
               KiB(pagefileV.back()), MemorySpread(pagefileV, firstSeconds), pagefileV.size());

    bench::Note(
        "bench_process: threads: Vorlane.exe %d, floor %d, baseline %d; Linux pids %lu, "
        "%lu, %lu",
        nThreads[kVorlane], nThreads[kFloor], nThreads[kBaseline], unixPid[kVorlane],
        unixPid[kFloor], unixPid[kBaseline]);
    bench::Note(
        "bench_process: over the run GetProcessTimes gave %.2f s for Vorlane.exe and %.2f s "
        "for this process; the sum of Vorlane.exe's thread times was %.2f s",
        (processTimes1 - processTimes0) / 1e7, (ownTimes1 - ownTimes0) / 1e7,
        (cpu[kVorlane].back().threadTicks - cpu[kVorlane].front().threadTicks) / 1e7);
    bench::Note(
        "bench_process: Vorlane.exe at the end: PrivateUsage %lu KiB, PagefileUsage %lu KiB, "
        "working set %lu KiB",
        static_cast<unsigned long>(pmc.PrivateUsage / 1024),
        static_cast<unsigned long>(pmc.PagefileUsage / 1024),
        static_cast<unsigned long>(pmc.WorkingSetSize / 1024));
    if (!bClosed) bench::Note("bench_process: a process had to be ended");
    return 0;
}
