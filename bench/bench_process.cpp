// Vorlane.exe on its simulated EC beside its yardstick (bench_idle.cpp), the
// fair floor, and the control, a second fair floor: all three started at
// once, every window wholly on the desktop and none over another, all three
// on one core, on an EC whose every read answers a new value. A run is six
// legs, one for each order of the three programs, their places and starts
// following it. It gives
// the CPU time of each as a share of one core and two ratios: the control's
// to the fair floor, which must be 1 within the measurement's own error
// before Vorlane's to the fair floor means anything. Vorlane's private bytes
// are read before and after each leg's CPU samples.
// VORLANE_BENCH_SECONDS sets a leg's length (default 20), VORLANE_BENCH_RUNS
// the number of runs (default 3). VORLANE_BENCH_ALONE=1 runs each leg's three
// programs one at a time, each alone on the core in its place: slower, and
// the machine's load may change between them, but free of the bias the
// sharing itself brings. A leg's bias (which program's timers fire
// just after another's, on the shared core) holds for the whole leg, so more
// legs, not longer ones, narrow the spread.
//
// Under Wine 8, GetProcessTimes of another process answers the caller's own
// times, and thread times count in 10 ms ticks, a tenth of a 10-s window's
// share here. So a process's CPU time is the Linux kernel's count for its
// threads; only where there is no /proc (Windows) is it GetProcessTimes.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchCommon.h"
#include "tests/common/Counters.h"
#include "tests/common/Harness.h"

namespace {

const int kSteps = 12;          // samples over a leg
const int kStepsPerWindow = 2;  // CPU shares are taken over this many steps
const double kControlTolerance = 0.03;
const double kTarget = 1.05;

enum { kSubject, kFairFloor, kControl, kPrograms };
const char* const kNames[kPrograms] = {"Vorlane.exe", "fair floor", "control"};
// The yardsticks' executables, beside this one.
const char* const kIdleExes[kPrograms] = {nullptr, "bench_fair_floor.exe", "bench_control.exe"};

double ProcessTimesNs(HANDLE hProcess) {
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (!::GetProcessTimes(hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser)) return -1;
    double ticks = 0;
    for (const FILETIME& ft : {ftKernel, ftUser}) {
        ticks +=
            static_cast<double>(static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
    }
    return ticks * 100;
}

SIZE_T PrivateBytesOf(HANDLE hProcess) {
    const long long nBytes = PrivateBytes(hProcess);
    return nBytes > 0 ? static_cast<SIZE_T>(nBytes) : 0;
}

long KiBDelta(SIZE_T before, SIZE_T after) {
    return static_cast<long>((static_cast<long long>(after) - static_cast<long long>(before)) /
                             1024);
}

std::string KiB(SIZE_T bytes) {
    return bench::Format("%lu KiB", static_cast<unsigned long>(bytes / 1024));
}

// One of the three programs, started: Vorlane.exe from an install folder of
// its own, a yardstick from beside this executable.
struct Running {
    explicit Running(int nProgram) {
        if (nProgram == kSubject) {
            install.reset(new InstallDir);
            process.reset(new VorlaneProcess(*install));
            path = install->ExePath();
        } else {
            path = TestBinaryDir() + "\\" + kIdleExes[nProgram];
            process.reset(new VorlaneProcess(Widen(path), Widen(TestBinaryDir()).c_str()));
        }
    }
    // The program's dialog once it is visible; null before.
    HWND FindDialog() {
        for (HWND h : TopLevelWindowsOf(process->Pid())) {
            char szClass[16] = {};
            ::GetClassNameA(h, szClass, sizeof(szClass));
            if (::IsWindowVisible(h) && lstrcmpA(szClass, "#32770") == 0) hWnd = h;
        }
        return hWnd;
    }
    // Asks the window to close as a user would, then waits for the process.
    bool Close() {
        ::PostMessageA(hWnd, WM_CLOSE, 0, 0);
        return process->WaitForExit(10000);
    }

    std::unique_ptr<InstallDir> install;
    std::unique_ptr<VorlaneProcess> process;
    std::string path;
    HWND hWnd = nullptr;
    unsigned long unixPid = 0;
};

struct CpuSample {
    double tUs;
    double cpuNs;
};

// CPU share of one core, in percent, between two samples.
double SharePct(const CpuSample& a, const CpuSample& b) {
    return (b.cpuNs - a.cpuNs) / 1000.0 / (b.tUs - a.tUs) * 100.0;
}

// One leg: the three programs side by side, each in its place.
struct Leg {
    std::vector<CpuSample> cpu[kPrograms];
    SIZE_T mem[2] = {};  // Vorlane's private bytes, before and after the CPU samples
    bool bKernelClock = true;
    bool bClosed = false;
};

typedef std::unique_ptr<Running> Programs[kPrograms];

// VORLANE_BENCH_ALONE: each leg runs the three programs one at a time.
bool g_bAlone = false;

// The core every program runs on: the first this process may use, so that
// `taskset` before the benchmark chooses it.
DWORD_PTR OneCore() {
    DWORD_PTR process = 0, system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) || process == 0)
        return 1;
    return process & (~process + 1);
}

// The Linux kernel's word on where a program's first thread may run.
std::string CpusAllowed(unsigned long unixPid) {
    const std::string status = ReadWholeFile("Z:\\proc\\" + std::to_string(unixPid) + "\\status");
    const size_t at = status.find("Cpus_allowed_list:");
    if (at == std::string::npos) return "?";
    const size_t from = status.find_first_not_of(" \t", at + 18);
    return status.substr(from, status.find('\n', from) - from);
}

// Starts the programs of places nFrom to nTo - 1, the first place first, and
// waits for their windows.
bool StartAll(const int* byPlace, int nFrom, int nTo, Programs& programs) {
    for (int n = nFrom; n < nTo; ++n) {
        std::unique_ptr<Running>& p = programs[byPlace[n]];
        p.reset(new Running(byPlace[n]));
        if (!p->process->Started()) {
            bench::Note("bench_process: could not start %s", p->path.c_str());
            return false;
        }
        // A process's affinity covers the threads it starts later as well.
        ::SetProcessAffinityMask(p->process->Handle(), OneCore());
    }
    for (auto& p : programs) {
        if (p && !WaitFor([&p] { return p->FindDialog() != nullptr; }, 30000)) {
            bench::Note("bench_process: the window of %s did not appear", p->path.c_str());
            return false;
        }
    }
    return true;
}

// Places 0 and 1 side by side at the top, place 2 below place 0. A window
// partly off the desktop or under another paints less, so every window must
// lie wholly on the desktop and clear of the others, or nothing is measured.
bool PlaceApart(const int* byPlace, int nFrom, int nTo, Programs& programs) {
    RECT rc;
    ::GetWindowRect(programs[byPlace[nFrom]]->hWnd, &rc);
    const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    const POINT at[kPrograms] = {{0, 0}, {cx, 0}, {0, cy}};
    const RECT rcDesktop = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    RECT placed[kPrograms];
    for (int n = nFrom; n < nTo; ++n) {
        HWND hWnd = programs[byPlace[n]]->hWnd;
        ::SetWindowPos(hWnd, nullptr, at[n].x, at[n].y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::GetWindowRect(hWnd, &placed[n]);
        RECT rcOn;
        ::IntersectRect(&rcOn, &placed[n], &rcDesktop);
        if (!::EqualRect(&rcOn, &placed[n])) {
            bench::Note("bench_process: the %s's window does not fit on the %ldx%ld desktop",
                        kNames[byPlace[n]], rcDesktop.right, rcDesktop.bottom);
            return false;
        }
        for (int i = nFrom; i < n; ++i) {
            if (::IntersectRect(&rcOn, &placed[i], &placed[n])) {
                bench::Note("bench_process: the windows of the %s and the %s overlap",
                            kNames[byPlace[i]], kNames[byPlace[n]]);
                return false;
            }
        }
    }
    return true;
}

// Samples the CPU time of every program running, kSteps + 1 times, stepUs
// apart.
bool SampleCpu(Programs& programs, double stepUs, Leg* pLeg) {
    HANDLE handles[kPrograms];
    int running[kPrograms];
    DWORD nRunning = 0;
    for (int i = 0; i < kPrograms; ++i) {
        if (!programs[i]) continue;
        programs[i]->unixPid = bench::UnixPidOf(programs[i]->path);
        if (programs[i]->unixPid == 0) pLeg->bKernelClock = false;
        handles[nRunning] = programs[i]->process->Handle();
        running[nRunning++] = i;
    }
    const double t0 = bench::NowUs();
    for (int nStep = 0; nStep <= kSteps; ++nStep) {
        double tLeft = t0 + nStep * stepUs - bench::NowUs();
        if (tLeft > 0 &&
            ::WaitForMultipleObjects(nRunning, handles, FALSE, static_cast<DWORD>(tLeft / 1000)) !=
                WAIT_TIMEOUT) {
            bench::Note("bench_process: a process ended during the run");
            return false;
        }
        const double tNow = bench::NowUs();
        for (DWORD n = 0; n < nRunning; ++n) {
            const int i = running[n];
            double cpuNs = pLeg->bKernelClock ? bench::KernelCpuNs(programs[i]->unixPid)
                                              : ProcessTimesNs(handles[n]);
            if (cpuNs < 0) {
                bench::Note("bench_process: no CPU time for %s", programs[i]->path.c_str());
                return false;
            }
            pLeg->cpu[i].push_back({tNow, cpuNs});
        }
    }
    return true;
}

// One leg, the programs started and placed in the given order of places.
// Memory is read only before and after the CPU samples: under Wine,
// VirtualQueryEx of another process runs in that process (a system APC per
// call, one call per region), so reading it during the run charged Vorlane
// alone for the measuring.
bool RunLeg(const int* byPlace, double stepUs, bool bFirst, Leg* pLeg) {
    // Alone, each program runs in its place by itself, one after the other:
    // no program's timers then fall in with another's on the shared core.
    const int nGroup = g_bAlone ? 1 : kPrograms;
    pLeg->bClosed = true;
    for (int nFrom = 0; nFrom < kPrograms; nFrom += nGroup) {
        Programs programs;
        const int nTo = nFrom + nGroup;
        if (!StartAll(byPlace, nFrom, nTo, programs) || !PlaceApart(byPlace, nFrom, nTo, programs))
            return false;
        const bool bSubject = programs[kSubject] != nullptr;
        HANDLE hSubject = bSubject ? programs[kSubject]->process->Handle() : nullptr;
        ::Sleep(static_cast<DWORD>(stepUs / 1000));
        if (bSubject) pLeg->mem[0] = PrivateBytesOf(hSubject);
        if (!SampleCpu(programs, stepUs, pLeg)) return false;
        if (bSubject) pLeg->mem[1] = PrivateBytesOf(hSubject);
        if (bFirst && nFrom == 0 && pLeg->bKernelClock) {
            std::string cpus;
            for (auto& p : programs) {
                if (p) cpus += (cpus.empty() ? "" : ", ") + CpusAllowed(p->unixPid);
            }
            bench::Note("bench_process: the programs' first threads may run on CPUs %s",
                        cpus.c_str());
        }
        for (auto& p : programs) {
            if (p) pLeg->bClosed = p->Close() && pLeg->bClosed;
        }
        // Vorlane's guardian ends with it; its install folder is removed after.
        WaitFor([] { return GuardianPids().empty(); }, 5000);
    }
    return true;
}

// A program's CPU shares over successive windows of kStepsPerWindow steps.
std::vector<double> WindowShares(const std::vector<CpuSample>& s) {
    std::vector<double> shares;
    for (size_t i = kStepsPerWindow; i < s.size(); i += kStepsPerWindow) {
        shares.push_back(SharePct(s[i - kStepsPerWindow], s[i]));
    }
    return shares;
}

double WholeShare(const Leg& leg, int nProgram) {
    return SharePct(leg.cpu[nProgram].front(), leg.cpu[nProgram].back());
}

// A run's ratio of two programs' CPU: the geometric mean of its legs' whole
// ratios, so that each place and each order counts alike for each program.
double RunRatio(const std::vector<Leg>& run, int a, int b) {
    double logSum = 0;
    for (const Leg& leg : run) logSum += std::log(WholeShare(leg, a) / WholeShare(leg, b));
    return std::exp(logSum / run.size());
}

std::string List(const std::vector<double>& values, const char* pszUnit, int nDecimals = 2) {
    std::string s;
    for (double v : values) s += (s.empty() ? "" : ", ") + bench::Num(v, nDecimals) + pszUnit;
    return s;
}

// Per-window shares of one program over every leg of every run, and the
// runs' whole shares.
void CpuRow(const std::string& figure, const std::vector<std::vector<Leg>>& runs, int nProgram) {
    std::vector<double> windows, wholes;
    for (const auto& run : runs) {
        double sum = 0;
        for (const Leg& leg : run) {
            const std::vector<double> shares = WindowShares(leg.cpu[nProgram]);
            windows.insert(windows.end(), shares.begin(), shares.end());
            sum += WholeShare(leg, nProgram);
        }
        wholes.push_back(sum / run.size());
    }
    const bench::Stats st = bench::Summarize(windows);
    const std::vector<CpuSample>& s0 = runs.front().front().cpu[nProgram];
    const double windowSeconds = (s0[kStepsPerWindow].tUs - s0[0].tUs) / 1e6;
    bench::Row(figure, bench::Num(st.median, 2) + " %",
               bench::MinMax(st, " %", 2) +
                   bench::Format(" (%.0f-s windows); runs ", windowSeconds) + List(wholes, " %"),
               st.n);
}

// The median over the runs of a ratio of two programs' CPU, with each run's
// figure and the spread of the per-window ratios.
bench::Stats RatioRow(const std::string& figure, const std::vector<std::vector<Leg>>& runs, int a,
                      int b, const char* pszTarget, bool (*pfnMet)(double)) {
    std::vector<double> perRun, windows;
    for (const auto& run : runs) {
        perRun.push_back(RunRatio(run, a, b));
        for (const Leg& leg : run) {
            const std::vector<double> sa = WindowShares(leg.cpu[a]), sb = WindowShares(leg.cpu[b]);
            for (size_t i = 0; i < sa.size(); ++i) {
                if (sb[i] > 0) windows.push_back(sa[i] / sb[i]);
            }
        }
    }
    const bench::Stats st = bench::Summarize(perRun);
    const bench::Stats stWindows = bench::Summarize(windows);
    // Three decimals: the verdicts are a few hundredths wide.
    bench::Row(figure, bench::Num(st.median, 3) + "×",
               "runs " + List(perRun, "×", 3) + " (min–max " + bench::Num(st.min, 3) + "–" +
                   bench::Num(st.max, 3) + "×); per-window ratios " +
                   bench::MinMax(stWindows, "×", 2),
               st.n, pszTarget, bench::Verdict(pfnMet(st.median)));
    return st;
}

bool ControlHolds(double ratio) {
    return std::fabs(ratio - 1.0) <= kControlTolerance + 1e-9;
}
bool WithinTarget(double ratio) {
    return ratio <= kTarget;
}

void CpuRows(const std::vector<std::vector<Leg>>& runs, int nSeconds) {
    const char* pszClock = runs.front().front().bKernelClock
                               ? "Linux kernel's count of its threads' run time"
                               : "GetProcessTimes";
    const char* pszAlone = g_bAlone ? "; each program alone in turn" : "";
    CpuRow(bench::Format("Vorlane.exe CPU, %% of one core, %u runs of 6 legs of %d s%s on the "
                         "simulated EC, every read a new value (%s)",
                         static_cast<unsigned>(runs.size()), nSeconds,
                         g_bAlone ? ", each program alone in turn" : "", pszClock),
           runs, kSubject);
    CpuRow(
        "Fair floor: the same dialog and timers, the chart-sized and -shaped child copying "
        "one prepared bitmap per paint, one of four read-only edits given a new text on every "
        "tick, the EC read as the program reads it, CPU, % of one core, same legs",
        runs, kFairFloor);
    CpuRow("Control: a second fair floor, CPU, % of one core, same legs", runs, kControl);
    const bench::Stats control = RatioRow(
        std::string("Control ÷ fair floor, CPU: the measurement's own error (median of the "
                    "runs") +
            pszAlone + ")",
        runs, kControl, kFairFloor, "1.00 ± 0.03×", ControlHolds);
    const bench::Stats subject =
        RatioRow(std::string("Vorlane.exe ÷ fair floor, CPU (median of the runs") + pszAlone + ")",
                 runs, kSubject, kFairFloor, "≤ 1.05×", WithinTarget);
    if (!ControlHolds(control.median)) {
        bench::Note(
            "bench_process: the control read %.2f× the fair floor, outside 1.00 ± %.2f×: "
            "Vorlane's %.2f× is not to be trusted",
            control.median, kControlTolerance, subject.median);
    }
}

void MemoryRows(const std::vector<std::vector<Leg>>& runs, int nSeconds, double firstSeconds) {
    const Leg& first = runs.front().front();
    bench::Row(bench::Format("Vorlane.exe private bytes %.0f s after its window appeared (commit "
                             "charge: PrivateUsage, else committed private pages)",
                             firstSeconds),
               KiB(first.mem[0]), "–", 1);
    long growth = 0, least = 0;
    size_t nLegs = 0;
    for (const auto& run : runs) {
        for (const Leg& leg : run) {
            const long g = KiBDelta(leg.mem[0], leg.mem[1]);
            growth = nLegs == 0 || g > growth ? g : growth;
            least = nLegs == 0 || g < least ? g : least;
            ++nLegs;
        }
    }
    bench::Row(bench::Format("Vorlane.exe private bytes %d s later (first leg)", nSeconds),
               KiB(first.mem[1]),
               bench::Format("growth over a leg: %+ld to %+ld KiB", least, growth), nLegs,
               "no growth", bench::Verdict(growth <= 0));
}

int EnvInt(const char* pszName, int nDefault) {
    const char* psz = std::getenv(pszName);
    return psz != nullptr && *psz != '\0' ? std::atoi(psz) : nDefault;
}

}  // namespace

int main() {
    int nSeconds = EnvInt("VORLANE_BENCH_SECONDS", 20);
    if (nSeconds < 2 * kStepsPerWindow) nSeconds = 2 * kStepsPerWindow;
    int nRuns = EnvInt("VORLANE_BENCH_RUNS", 3);
    g_bAlone = EnvInt("VORLANE_BENCH_ALONE", 0) != 0;
    if (nRuns < 1) nRuns = 1;
    const double stepUs = nSeconds * 1e6 / kSteps;
    UseOwnSimulatedEc();
    // Every read a new value, so that Vorlane changes one field on every
    // tick, as the fair floor does, whatever the host's load makes of the
    // simulated EC's temperatures.
    ::SetEnvironmentVariableA("WRRDIO_SIM_MOVING", "1");

    // A program placed or started first can cost more than its equal placed
    // or started later, so each run's legs take every order of the three
    // programs once: each takes each place, and comes before each other
    // program, equally often.
    int byPlace[kPrograms] = {kSubject, kFairFloor, kControl};
    std::vector<std::vector<Leg>> runs(nRuns);
    for (int r = 0; r < nRuns; ++r) {
        do {
            runs[r].emplace_back();
            Leg& leg = runs[r].back();
            if (!RunLeg(byPlace, stepUs, r == 0 && runs[r].size() == 1, &leg)) return 1;
            if (!leg.bClosed)
                bench::Note("bench_process, run %d leg %u: a process had to be ended", r + 1,
                            static_cast<unsigned>(runs[r].size()));
        } while (std::next_permutation(byPlace, byPlace + kPrograms));
        bench::Note("bench_process, run %d: control ÷ fair floor %.3f×, Vorlane ÷ fair floor %.3f×",
                    r + 1, RunRatio(runs[r], kControl, kFairFloor),
                    RunRatio(runs[r], kSubject, kFairFloor));
    }
    CpuRows(runs, nSeconds);
    MemoryRows(runs, nSeconds, stepUs / 1e6);
    return 0;
}
