// Long run of the real program on its own simulated EC: the EC cycles through
// faults, extreme tachometer counts and a slow phase while a user clicks Test,
// Stop, the channel and the slider. At the end the window must still answer,
// handles and private memory must not have grown, and Exit in manual mode must
// hand the fan back. Prints a report; exit code 0 on success, 1 on failure.
// Usage: soak_driver.exe [minutes]
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ec/EcProtocol.h"
#include "tests/common/Counters.h"
#include "tests/common/Harness.h"
#include "ui/resource.h"

namespace {

const DWORD kPhaseMs = 6000;
const DWORD kActionMs = 1500;
const long kHandleTolerance = 5;
// Both builds stay within 8 KiB over ten minutes; a leak of 64 KiB a
// minute grows by more than this in the nine minutes after the first cycle.
const long long kPrivateToleranceBytes = 256 * 1024;

// Wine keeps each process's GDI objects in a handle table of its own, which
// the process's PEB points to (GdiSharedHandleTable: a pointer at 0x94 in a
// 32-bit PEB, at 0xF8 in a 64-bit one; the driver and the program are built
// alike): 65536 entries of 24 bytes, a nonzero type byte marking a live object.
#pragma pack(push, 1)
struct GdiTableEntry {
    unsigned long long object;
    ULONG owner;
    USHORT instance;
    UCHAR type;
    UCHAR flags;
    unsigned long long userPointer;
};
#pragma pack(pop)
static_assert(sizeof(GdiTableEntry) == 24, "Wine's GDI handle table entry");
const size_t kGdiTableEntries = 0x10000;
#ifdef _WIN64
const size_t kPebGdiTableOffset = 0xF8;
#else
const size_t kPebGdiTableOffset = 0x94;
#endif

long GdiTableObjects(HANDLE hProcess) {
    PROCESS_BASIC_INFORMATION pbi = {};
    ULONG needed = 0;
    if (::NtQueryInformationProcess(hProcess, ProcessBasicInformation, &pbi, sizeof(pbi),
                                    &needed) != 0) {
        return -1;
    }
    ULONG_PTR table = 0;
    SIZE_T got = 0;
    if (!::ReadProcessMemory(hProcess,
                             reinterpret_cast<char*>(pbi.PebBaseAddress) + kPebGdiTableOffset,
                             &table, sizeof(table), &got) ||
        table == 0) {
        return -1;
    }
    static std::vector<GdiTableEntry> entries(kGdiTableEntries);
    if (!::ReadProcessMemory(hProcess, reinterpret_cast<void*>(table), entries.data(),
                             entries.size() * sizeof(GdiTableEntry), &got)) {
        return -1;
    }
    long n = 0;
    for (const GdiTableEntry& e : entries) {
        if (e.type != 0) ++n;
    }
    return n;
}

// GetGuiResources where it works; Wine answers 0, so its handle table is read.
long GdiObjects(HANDLE hProcess) {
    long n = static_cast<long>(::GetGuiResources(hProcess, GR_GDIOBJECTS));
    return n != 0 ? n : GdiTableObjects(hProcess);
}

// GDI objects cannot be made in another process, so the counter is proved on
// this one: three pens made show as three more, and as none once deleted.
bool GdiCountWorks() {
    HANDLE hSelf = ::GetCurrentProcess();
    long before = GdiObjects(hSelf);
    if (before <= 0) return false;
    HPEN pens[3];
    for (int i = 0; i < 3; ++i) pens[i] = ::CreatePen(PS_SOLID, 1, RGB(i, 0, 0));
    long with = GdiObjects(hSelf);
    for (HPEN hPen : pens) ::DeleteObject(hPen);
    long after = GdiObjects(hSelf);
    return with - before == 3 && after == before;
}

// Proves a counter sees the program's own changes before it is trusted:
// handles put into the program and taken out again, memory committed, touched
// and released there.
bool HandleCountWorks(HANDLE hProcess, DWORD pid) {
    long before = HandleCount(hProcess, pid);
    if (before <= 0) return false;
    HANDLE placed[20];
    for (HANDLE& h : placed) {
        HANDLE hEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ::DuplicateHandle(::GetCurrentProcess(), hEvent, hProcess, &h, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
        ::CloseHandle(hEvent);
    }
    long with = HandleCount(hProcess, pid);
    for (HANDLE h : placed) {
        HANDLE mine = nullptr;
        ::DuplicateHandle(hProcess, h, ::GetCurrentProcess(), &mine, 0, FALSE,
                          DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS);
        if (mine != nullptr) ::CloseHandle(mine);
    }
    long after = HandleCount(hProcess, pid);
    return with - before >= 18 && with - after >= 18;
}

bool PrivateBytesWork(HANDLE hProcess) {
    const SIZE_T kSize = 4u << 20;
    long long before = PrivateBytes(hProcess);
    if (before <= 0) return false;
    char* p = static_cast<char*>(
        ::VirtualAllocEx(hProcess, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (p == nullptr) return false;
    std::vector<char> ones(64 * 1024, 1);
    for (SIZE_T at = 0; at < kSize; at += ones.size()) {
        SIZE_T written = 0;
        ::WriteProcessMemory(hProcess, p + at, ones.data(), ones.size(), &written);
    }
    long long with = PrivateBytes(hProcess);
    ::VirtualFreeEx(hProcess, p, 0, MEM_RELEASE);
    long long after = PrivateBytes(hProcess);
    return with - before >= static_cast<long long>(kSize) * 3 / 4 &&
           with - after >= static_cast<long long>(kSize) * 3 / 4;
}

class Soak {
  public:
    explicit Soak(VorlaneProcess& app) : m_app(app), m_rng(20240611u) {}

    // Sends to a control of the program, giving up after 10 s: a program that
    // hangs is a finding, not a reason for the driver to hang too.
    bool Send(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutA(hWnd, msg, wParam, lParam, SMTO_NORMAL, 10000, &result)) {
            return true;
        }
        Fail("the program did not answer a message within 10 s");
        return false;
    }

    void UserAction() {
        switch (Next() % 5) {
            case 0:
                Send(m_app.Item(IDC_TEST), BM_CLICK, 0, 0);
                ++m_tests;
                break;
            case 1: {
                int pos = static_cast<int>(Next() % 128);
                HWND hSlider = m_app.Item(IDC_PWM_SLIDER);
                if (Send(hSlider, TBM_SETPOS, TRUE, pos)) {
                    Send(m_app.MainWindow(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, pos),
                         reinterpret_cast<LPARAM>(hSlider));
                }
                ++m_slides;
                break;
            }
            case 2:
                Send(m_app.Item(IDC_STOP), BM_CLICK, 0, 0);
                ++m_stops;
                break;
            case 3:
                Send(m_app.Item(Next() % 2 ? IDC_PWM0 : IDC_PWM4), BM_CLICK, 0, 0);
                ++m_channels;
                break;
            default:
                break;  // a pause
        }
    }

    // Runs `ms` of one EC phase with user actions in between, and checks that
    // the program went on calling the EC throughout.
    void RunPhase(const char* name, DWORD ms) {
        DWORD start = ::GetTickCount();
        DWORD calls = WrSimLogCount();
        DWORD nextAction = start;
        while (::GetTickCount() - start < ms && m_failures.empty()) {
            if (!m_app.Running()) {
                Fail(std::string("the program ended during the ") + name + " phase");
                return;
            }
            if (static_cast<LONG>(::GetTickCount() - nextAction) >= 0) {
                UserAction();
                ++m_actions;
                nextAction = ::GetTickCount() + kActionMs / 2 + Next() % kActionMs;
            }
            ::Sleep(50);
        }
        DWORD made = WrSimLogCount() - calls;
        if (made == 0) Fail(std::string("no EC call during the ") + name + " phase");
        m_minPhaseCalls = std::min(m_minPhaseCalls, made);
        ++m_phases;
    }

    void OneCycle() {
        Normal();
        RunPhase("normal", kPhaseMs);

        WrSimSetFault(kRegCpuTemp, 300);
        WrSimSetFault(kRegEnvTemp, 65535);
        WrSimSetFault(kRegDutyPwm0, 1000);
        WrSimSetFault(kRegDutyPwm4, 256);
        WrSimSetFault(kRegTachHighPwm0, 0x104);
        WrSimSetFault(kRegTachHighPwm4, 0x7FFFFF04);
        RunPhase("above 255", kPhaseMs);
        WrSimClearFaults();

        WrSimSetFault(0xFFFFFFFF, -77);
        RunPhase("negative", kPhaseMs);

        WrSimSetFault(0xFFFFFFFF, WRSIM_FAILURE_VALUE);
        RunPhase("failure value", kPhaseMs);
        WrSimClearFaults();

        WrSimFreeze(TRUE);
        const WORD kCounts[] = {0x0000, 0xFFFF, 0x0001, 0x007F};
        const WORD kTachs[2][2] = {{kRegTachHighPwm0, kRegTachLowPwm0},
                                   {kRegTachHighPwm4, kRegTachLowPwm4}};
        for (WORD count : kCounts) {
            for (const WORD* tach : kTachs) {
                WrSimPoke(tach[0], count >> 8);
                WrSimPoke(tach[1], count & 0xFF);
            }
            RunPhase("tachometer extremes", kPhaseMs / 4);
        }

        WrSimFreeze(FALSE);
        WrSimSetDelay(200);
        RunPhase("slow EC", kPhaseMs);

        Normal();
        RunPhase("cleared", kPhaseMs);
    }

    static void Normal() {
        WrSimClearFaults();
        WrSimSetDelay(0);
        WrSimFreeze(FALSE);
    }

    void Fail(const std::string& what) { m_failures.push_back(what); }
    bool Failed() const { return !m_failures.empty(); }
    const std::vector<std::string>& Failures() const { return m_failures; }

    unsigned m_phases = 0, m_actions = 0, m_tests = 0, m_stops = 0, m_slides = 0, m_channels = 0;
    DWORD m_minPhaseCalls = 0xFFFFFFFF;

  private:
    unsigned Next() {
        m_rng = m_rng * 1103515245u + 12345u;
        return m_rng >> 16;
    }

    VorlaneProcess& m_app;
    unsigned m_rng;
    std::vector<std::string> m_failures;
};

// VORLANE_SOAK_LEAK_KIB_PER_MIN=n makes the program leak n KiB a minute, as
// committed and written private memory put into it from here: proof that the
// growth check catches a leak of that size.
class LeakInjector {
  public:
    explicit LeakInjector(HANDLE hProcess) : m_hProcess(hProcess), m_start(::GetTickCount()) {
        if (const char* psz = getenv("VORLANE_SOAK_LEAK_KIB_PER_MIN")) m_kibPerMin = atoi(psz);
    }
    void CatchUp() {
        const double minutes = (::GetTickCount() - m_start) / 60000.0;
        const SIZE_T due = static_cast<SIZE_T>(m_kibPerMin * minutes) * 1024;
        if (m_kibPerMin <= 0 || due <= m_leaked) return;
        const SIZE_T size = due - m_leaked;
        void* p =
            ::VirtualAllocEx(m_hProcess, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        std::vector<char> ones(size, 1);
        SIZE_T written = 0;
        if (p != nullptr) ::WriteProcessMemory(m_hProcess, p, ones.data(), size, &written);
        m_leaked += written;
    }
    int KibPerMin() const { return m_kibPerMin; }

  private:
    HANDLE m_hProcess;
    DWORD m_start;
    int m_kibPerMin = 0;
    SIZE_T m_leaked = 0;
};

struct Sample {
    long handles;
    long long privateBytes;
    long gdi;
    std::map<ULONG_PTR, SIZE_T> allocations;
};

Sample Measure(VorlaneProcess& app) {
    return {HandleCount(app.Handle(), app.Pid()), PrivateBytes(app.Handle()),
            GdiObjects(app.Handle()), PrivateAllocations(app.Handle())};
}

void PrintGrownAllocations(const Sample& from, const Sample& to) {
    for (const auto& a : to.allocations) {
        auto before = from.allocations.find(a.first);
        const SIZE_T was = before == from.allocations.end() ? 0 : before->second;
        if (a.second > was) {
            printf("    allocation at %p: %llu -> %llu bytes committed\n",
                   reinterpret_cast<void*>(a.first), static_cast<unsigned long long>(was),
                   static_cast<unsigned long long>(a.second));
        }
    }
}

// The samples a run compares: after the first cycle, the largest, the last.
struct Samples {
    Sample early, peak, end;
    unsigned cycles = 1;
};

// Cycles until the time is up or something failed. The early sample follows
// one full cycle: every code path has run once.
Samples RunCycles(Soak& soak, VorlaneProcess& app, DWORD totalMs) {
    const DWORD started = ::GetTickCount();
    LeakInjector leak(app.Handle());
    if (leak.KibPerMin() > 0) printf("  injecting a leak of %d KiB a minute\n", leak.KibPerMin());
    soak.OneCycle();
    leak.CatchUp();
    Samples r;
    r.early = r.peak = Measure(app);
    while (!soak.Failed() && ::GetTickCount() - started < totalMs) {
        soak.OneCycle();
        leak.CatchUp();
        ++r.cycles;
        Sample s = Measure(app);
        printf("  cycle %u: handles %ld, private bytes %lld, GDI objects %ld\n", r.cycles,
               s.handles, s.privateBytes, s.gdi);
        fflush(stdout);
        r.peak.handles = std::max(r.peak.handles, s.handles);
        r.peak.privateBytes = std::max(r.peak.privateBytes, s.privateBytes);
        r.peak.gdi = std::max(r.peak.gdi, s.gdi);
    }
    r.end = Measure(app);
    printf(
        "Vorlane soak: %.1f min, %u cycles, %u phases, %u user actions "
        "(Test %u, Stop %u, slider %u, channel %u), %lu EC calls\n",
        (::GetTickCount() - started) / 60000.0, r.cycles, soak.m_phases, soak.m_actions,
        soak.m_tests, soak.m_stops, soak.m_slides, soak.m_channels,
        static_cast<unsigned long>(WrSimLogCount()));
    printf("  EC calls in the quietest phase: %lu\n",
           static_cast<unsigned long>(soak.m_minPhaseCalls));
    return r;
}

// One counter from the early sample to the end, against its tolerance; only
// a counter proved to work here is trusted. False when it grew too much.
bool CheckGrowth(Soak& soak, const char* pszName, bool bWorks, long long early, long long end,
                 long long peak, long long tolerance) {
    if (!bWorks) {
        printf("  %s: SKIPPED, no counter here sees them in another process\n", pszName);
        return true;
    }
    const bool bOk = end - early <= tolerance;
    printf("  %s: early %lld, end %lld (%+lld), peak %lld (tolerance +%lld): %s\n", pszName, early,
           end, end - early, peak, tolerance, bOk ? "ok" : "GREW");
    if (!bOk) soak.Fail(std::string(pszName) + " grew");
    return bOk;
}

// The window answers within a second.
void CheckAnswers(Soak& soak, VorlaneProcess& app) {
    DWORD_PTR ignored = 0;
    DWORD pingStart = ::GetTickCount();
    bool bAnswered = ::SendMessageTimeoutA(app.MainWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000,
                                           &ignored) != 0;
    printf("  window answered WM_NULL: %s (%lu ms)\n", bAnswered ? "yes" : "NO",
           static_cast<unsigned long>(::GetTickCount() - pingStart));
    if (!bAnswered) soak.Fail("the window did not answer WM_NULL within 1000 ms");
}

// Exit in manual mode hands the fan back.
void CheckExit(Soak& soak, VorlaneProcess& app) {
    bool bOk = false;
    DWORD exitMs = 0;
    int manualAfterTest = -1, manualAfterExit = -1;
    if (app.Running()) {
        soak.Send(app.Item(IDC_TEST), BM_CLICK, 0, 0);
        manualAfterTest = WrSimPeek(kRegManualMode);
        DWORD exitStart = ::GetTickCount();
        ::PostMessageA(app.Item(IDC_EXIT), BM_CLICK, 0, 0);
        bool bEnded = app.WaitForExit(10000);
        exitMs = ::GetTickCount() - exitStart;
        manualAfterExit = WrSimPeek(kRegManualMode);
        bOk = bEnded && manualAfterTest == 1 && manualAfterExit == 0;
    }
    printf("  Exit in manual mode: manual mode %d after Test, %d after Exit, ended in %lu ms: %s\n",
           manualAfterTest, manualAfterExit, static_cast<unsigned long>(exitMs),
           bOk ? "ok" : "FAILED");
    if (!bOk) soak.Fail("Exit in manual mode did not end the program with manual mode 0");
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = argc > 1 ? atof(argv[1]) : 10.0;
    if (minutes <= 0) minutes = 10.0;

    UseOwnSimulatedEc();
    WrSimReset(7);
    WrSimFreeze(FALSE);
    WrSimLogClear();
    InstallDir dir;
    VorlaneProcess app(dir);
    if (app.WaitForMainWindow() == nullptr) {
        printf("FAIL: Vorlane.exe did not show its window\n");
        return 1;
    }
    const bool bHandlesWork = HandleCountWorks(app.Handle(), app.Pid());
    const bool bMemoryWorks = PrivateBytesWork(app.Handle());
    const bool bGdiWorks = GdiCountWorks();

    Soak soak(app);
    const Samples s = RunCycles(soak, app, static_cast<DWORD>(minutes * 60000));
    CheckAnswers(soak, app);
    CheckGrowth(soak, "handles", bHandlesWork, s.early.handles, s.end.handles, s.peak.handles,
                kHandleTolerance);
    if (!CheckGrowth(soak, "private bytes", bMemoryWorks, s.early.privateBytes, s.end.privateBytes,
                     s.peak.privateBytes, kPrivateToleranceBytes)) {
        PrintGrownAllocations(s.early, s.end);
    }
    CheckGrowth(soak, "GDI objects", bGdiWorks && s.early.gdi > 0 && s.end.gdi > 0, s.early.gdi,
                s.end.gdi, s.peak.gdi, kHandleTolerance);
    CheckExit(soak, app);
    for (const std::string& f : soak.Failures()) printf("  FAILURE: %s\n", f.c_str());
    printf("RESULT: %s\n", soak.Failed() ? "FAIL" : "PASS");
    return soak.Failed() ? 1 : 0;
}
