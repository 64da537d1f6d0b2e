// Vorlane.exe on its simulated EC beside its yardsticks (bench_idle.cpp): the
// fair floor and the chart-only floor, all three started at once,
// in two runs in which Vorlane and the fair floor trade their start and their
// place: the CPU time of each as a share of one core, their ratios, and
// Vorlane's private bytes before and after each run's CPU samples.
// VORLANE_BENCH_SECONDS sets a run's length (default 60); with
// VORLANE_BENCH_CONTROL=1 a second fair floor takes Vorlane's place, which
// shows what the measurement makes of two equal programs.
//
// Under Wine 8, GetProcessTimes of another process answers the caller's own
// times, and thread times count in 10 ms ticks, a tenth of a 10-s window's
// share here. So a process's CPU time is the Linux kernel's count for its
// threads; only where there is no /proc (Windows) is it GetProcessTimes.
#include <windows.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchCommon.h"
#include "tests/common/Counters.h"
#include "tests/common/Harness.h"

namespace {

const int kSteps = 12;          // samples over the run
const int kStepsPerWindow = 2;  // CPU shares are taken over this many steps

enum { kSubject, kFairFloor, kFloor, kPrograms };
// The yardsticks' executables, beside this one; the control is a second fair floor.
const char* const kIdleExes[kPrograms] = {"bench_control.exe", "bench_fair_floor.exe",
                                          "bench_floor.exe"};

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
    Running(int nProgram, bool bControl) {
        if (nProgram == kSubject && !bControl) {
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

// One run of the three programs side by side.
struct Leg {
    std::vector<CpuSample> cpu[kPrograms];
    SIZE_T mem[2] = {};  // Vorlane's private bytes, before and after the CPU samples
    bool bKernelClock = true;
    bool bClosed = false;
};

typedef std::unique_ptr<Running> Programs[kPrograms];

// Starts the programs in the given order and waits for their windows.
bool StartAll(const int* order, bool bControl, Programs& programs) {
    for (int n = 0; n < kPrograms; ++n) {
        programs[order[n]].reset(new Running(order[n], bControl));
        if (!programs[order[n]]->process->Started()) {
            bench::Note("bench_process: could not start %s", programs[order[n]]->path.c_str());
            return false;
        }
    }
    for (auto& p : programs) {
        if (!WaitFor([&p] { return p->FindDialog() != nullptr; }, 30000)) {
            bench::Note("bench_process: the window of %s did not appear", p->path.c_str());
            return false;
        }
    }
    return true;
}

// Apart on the desktop, since a window under another paints less: the first
// two of the order on the left, one above the other, the last on the right.
void PlaceApart(const int* order, Programs& programs) {
    RECT rc[kPrograms];
    for (int n = 0; n < kPrograms; ++n) ::GetWindowRect(programs[order[n]]->hWnd, &rc[n]);
    const int cxScreen = ::GetSystemMetrics(SM_CXSCREEN);
    const POINT at[kPrograms] = {
        {0, 0}, {0, rc[0].bottom - rc[0].top}, {cxScreen - (rc[2].right - rc[2].left), 0}};
    for (int n = 0; n < kPrograms; ++n) {
        ::SetWindowPos(programs[order[n]]->hWnd, nullptr, at[n].x, at[n].y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::GetWindowRect(programs[order[n]]->hWnd, &rc[n]);
    }
    for (int i = 0; i < kPrograms; ++i) {
        for (int j = i + 1; j < kPrograms; ++j) {
            RECT rcOverlap;
            if (::IntersectRect(&rcOverlap, &rc[i], &rc[j])) {
                bench::Note("bench_process: windows %d and %d overlap (desktop %dx%d)", i, j,
                            cxScreen, ::GetSystemMetrics(SM_CYSCREEN));
            }
        }
    }
}

// Samples every program's CPU time kSteps + 1 times, stepUs apart.
bool SampleCpu(Programs& programs, double stepUs, Leg* pLeg) {
    for (auto& p : programs) {
        p->unixPid = bench::UnixPidOf(p->path);
        if (p->unixPid == 0) pLeg->bKernelClock = false;
    }
    HANDLE handles[kPrograms];
    for (int i = 0; i < kPrograms; ++i) handles[i] = programs[i]->process->Handle();
    const double t0 = bench::NowUs();
    for (int nStep = 0; nStep <= kSteps; ++nStep) {
        double tLeft = t0 + nStep * stepUs - bench::NowUs();
        if (tLeft > 0 &&
            ::WaitForMultipleObjects(kPrograms, handles, FALSE, static_cast<DWORD>(tLeft / 1000)) !=
                WAIT_TIMEOUT) {
            bench::Note("bench_process: a process ended during the run");
            return false;
        }
        const double tNow = bench::NowUs();
        for (int i = 0; i < kPrograms; ++i) {
            double cpuNs = pLeg->bKernelClock ? bench::KernelCpuNs(programs[i]->unixPid)
                                              : ProcessTimesNs(handles[i]);
            if (cpuNs < 0) {
                bench::Note("bench_process: no CPU time for %s", programs[i]->path.c_str());
                return false;
            }
            pLeg->cpu[i].push_back({tNow, cpuNs});
        }
    }
    return true;
}

// One run of the three programs, started and placed in the given order.
// Memory is read only before and after the CPU samples: under Wine,
// VirtualQueryEx of another process runs in that process (a system APC per
// call, one call per region), so reading it during the run charged Vorlane
// alone for the measuring.
bool RunLeg(const int* order, bool bControl, double stepUs, Leg* pLeg) {
    Programs programs;
    if (!StartAll(order, bControl, programs)) return false;
    PlaceApart(order, programs);
    HANDLE hSubject = programs[kSubject]->process->Handle();
    ::Sleep(static_cast<DWORD>(stepUs / 1000));
    pLeg->mem[0] = PrivateBytesOf(hSubject);
    if (!SampleCpu(programs, stepUs, pLeg)) return false;
    pLeg->mem[1] = PrivateBytesOf(hSubject);
    pLeg->bClosed = true;
    for (auto& p : programs) pLeg->bClosed = p->Close() && pLeg->bClosed;
    // Vorlane's guardian ends with it; its install folder is removed after.
    WaitFor([] { return GuardianPids().empty(); }, 5000);
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

// Per-window shares of one program over every leg, and the mean of the legs'
// whole-run shares.
void CpuRow(const std::string& figure, const std::vector<Leg>& legs, int nProgram) {
    std::vector<double> windows;
    double wholeSum = 0;
    for (const Leg& leg : legs) {
        const std::vector<double> shares = WindowShares(leg.cpu[nProgram]);
        windows.insert(windows.end(), shares.begin(), shares.end());
        wholeSum += SharePct(leg.cpu[nProgram].front(), leg.cpu[nProgram].back());
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
        const std::vector<double> sharesA = WindowShares(sa), sharesB = WindowShares(sb);
        for (size_t i = 0; i < sharesA.size(); ++i) {
            if (sharesB[i] > 0) ratios.push_back(sharesA[i] / sharesB[i]);
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
    std::string targetText = target > 0 ? bench::Format("≤ %.1f×", target) : "–";
    bench::Row(figure, bench::Num(st.median, 2) + "×", spread, st.n, targetText.c_str(),
               target > 0 ? bench::Verdict(st.median <= target && whole <= target) : "–");
}

void CpuRows(const std::vector<Leg>& legs, const char* pszSubject, const char* const* legNames,
             int nSeconds) {
    const char* pszClock = legs.front().bKernelClock
                               ? "Linux kernel's count of its threads' run time"
                               : "GetProcessTimes";
    CpuRow(bench::Format("%s CPU, %% of one core, 2 runs of %d s on the simulated EC (%s)",
                         pszSubject, nSeconds, pszClock),
           legs, kSubject);
    CpuRow(
        "Fair floor: the same dialog and timers, the chart-sized child copying one prepared "
        "bitmap per paint, one of four read-only edits given a new text every other tick, "
        "CPU, % of one core, same runs",
        legs, kFairFloor);
    CpuRow("Floor, chart only: the same, the edits never changed, CPU, % of one core, same runs",
           legs, kFloor);
    RatioRow(bench::Format("%s ÷ fair floor, CPU (per-window ratios, both runs)", pszSubject), legs,
             kSubject, kFairFloor, legNames, 1.1);
    RatioRow(bench::Format("%s ÷ chart-only floor, CPU (per-window ratios, both runs)", pszSubject),
             legs, kSubject, kFloor, legNames, 0);
    RatioRow("Fair floor ÷ chart-only floor, CPU: the edits' new texts", legs, kFairFloor, kFloor,
             legNames, 0);
}

void MemoryRows(const std::vector<Leg>& legs, const char* pszSubject, const char* const* legNames,
                int nSeconds, double firstSeconds) {
    const Leg& first = legs.front();
    bench::Row(bench::Format("%s private bytes %.0f s after its window appeared (commit "
                             "charge: PrivateUsage, else committed private pages)",
                             pszSubject, firstSeconds),
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
}

bool EnvFlag(const char* pszName) {
    const char* psz = std::getenv(pszName);
    return psz != nullptr && *psz != '\0' && *psz != '0';
}

}  // namespace

int main() {
    int nSeconds = 60;
    if (const char* psz = std::getenv("VORLANE_BENCH_SECONDS")) nSeconds = std::atoi(psz);
    if (nSeconds < 2 * kStepsPerWindow) nSeconds = 2 * kStepsPerWindow;
    const double stepUs = nSeconds * 1e6 / kSteps;
    const bool bControl = EnvFlag("VORLANE_BENCH_CONTROL");
    const char* pszSubject = bControl ? "Control (a second fair floor)" : "Vorlane.exe";
    UseOwnSimulatedEc();

    // Measured side by side, a program started first or placed top left costs
    // measurably more than its equal started second or placed below (a
    // second floor in Vorlane's place read up to 1.4 times the floor). So
    // the run is made twice, Vorlane and the fair floor trading their start
    // and their place; the chart-only floor starts last, on the right, both
    // times.
    const int orders[2][kPrograms] = {{kSubject, kFairFloor, kFloor},
                                      {kFairFloor, kSubject, kFloor}};
    const char* const legNames[2] = {bControl ? "control first" : "Vorlane first",
                                     "fair floor first"};
    std::vector<Leg> legs(2);
    for (int n = 0; n < 2; ++n) {
        if (!RunLeg(orders[n], bControl, stepUs, &legs[n])) return 1;
        if (!legs[n].bClosed)
            bench::Note("bench_process, %s: a process had to be ended", legNames[n]);
    }
    CpuRows(legs, pszSubject, legNames, nSeconds);
    MemoryRows(legs, pszSubject, legNames, nSeconds, stepUs / 1e6);
    return 0;
}
