#include "guard/FanGuard.h"

#include <cstdio>
#include <string>

#include "framework/StringW.h"
#include "guard/GuardShared.h"

namespace {

// How long Test waits for a guardian that is starting.
const DWORD kGuardReadyWaitMs = 3000;

HANDLE g_hMap = nullptr;          // the shared word's mapping, kept to start guardians again
FanGuardWord* g_pWord = nullptr;  // null when there is no guardian to tell
HANDLE g_hStarter = nullptr;      // the last "detach" process started
HANDLE g_hWatcher = nullptr;      // the ready watcher, opened once it marked itself
HANDLE g_hFanLock = nullptr;
std::wstring g_strGuardExe, g_strGuardArgs;

// A job that ends its processes together and lets none leave ends the
// guardian with the program: a kill then hands nothing back.
void TraceJobThatEndsTheGuardian() {
    BOOL bInJob = FALSE;
    if (!::IsProcessInJob(::GetCurrentProcess(), nullptr, &bInJob) || !bInJob) return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
    if (!::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info,
                                     sizeof(info), nullptr)) {
        return;
    }
    const DWORD dwFlags = info.BasicLimitInformation.LimitFlags;
    if ((dwFlags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) &&
        !(dwFlags & (JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK))) {
        GuardTrace("Vorlane",
                   "runs in a job that ends the fan guardian with it: a kill hands nothing back");
    }
}

bool LaunchGuardian() {
    HANDLE hSelf = nullptr, hMap = nullptr;
    HANDLE hStarter = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                          &hSelf, SYNCHRONIZE, TRUE, 0) &&
        ::DuplicateHandle(::GetCurrentProcess(), g_hMap, ::GetCurrentProcess(), &hMap, 0, TRUE,
                          DUPLICATE_SAME_ACCESS)) {
        wchar_t szHandles[64];
        swprintf(szHandles, 64, L"%llu %llu ",
                 static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hSelf)),
                 static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hMap)));
        std::wstring args = std::wstring(kGuardModeDetach) + L" " + szHandles + g_strGuardArgs;
        hStarter = StartGuardProcess(g_strGuardExe.c_str(), args.c_str(), hSelf, hMap);
    }
    if (hStarter == nullptr) GuardTrace("Vorlane", "the fan guardian did not start");
    // The guardian holds its own copies now.
    if (hSelf != nullptr) ::CloseHandle(hSelf);
    if (hMap != nullptr) ::CloseHandle(hMap);
    if (hStarter == nullptr) return false;
    if (g_hStarter != nullptr) ::CloseHandle(g_hStarter);
    g_hStarter = hStarter;
    return true;
}

// A watcher that marked itself ready and still runs.
bool GuardianWatching() {
    if (g_pWord == nullptr) return false;
    const LONG nPid = g_pWord->nWatcherPid;
    if (nPid == 0) return false;
    if (g_hWatcher != nullptr && ::GetProcessId(g_hWatcher) != static_cast<DWORD>(nPid)) {
        ::CloseHandle(g_hWatcher);
        g_hWatcher = nullptr;
    }
    if (g_hWatcher == nullptr) {
        g_hWatcher = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   static_cast<DWORD>(nPid));
    }
    if (g_hWatcher != nullptr && ::WaitForSingleObject(g_hWatcher, 0) == WAIT_TIMEOUT) return true;
    // Gone: the mark is stale.
    ::InterlockedCompareExchange(&g_pWord->nWatcherPid, 0, nPid);
    if (g_hWatcher != nullptr) ::CloseHandle(g_hWatcher);
    g_hWatcher = nullptr;
    return false;
}

// Waits for a starting guardian to mark itself ready; gives up early when
// its starter has already failed.
bool WaitForGuardian(DWORD dwTimeoutMs) {
    const DWORD dwStart = ::GetTickCount();
    for (;;) {
        if (GuardianWatching()) return true;
        DWORD dwCode = STILL_ACTIVE;
        if (g_hStarter == nullptr ||
            (::GetExitCodeProcess(g_hStarter, &dwCode) && dwCode != STILL_ACTIVE && dwCode != 0)) {
            return false;
        }
        if (::GetTickCount() - dwStart >= dwTimeoutMs) return false;
        ::Sleep(10);
    }
}

void SetState(LONG nState) {
    if (g_pWord != nullptr) ::InterlockedExchange(&g_pWord->nState, nState);
}

}  // namespace

bool StartFanGuardian(const wchar_t* pszExeDir, BYTE bPlatformType) {
    if (g_hFanLock == nullptr) {
        g_hFanLock = ::CreateMutexW(nullptr, FALSE, kFanLockName);
        if (g_hFanLock == nullptr)
            GuardTrace("Vorlane", "no fan lock; copies of Vorlane may overtake each other");
    }
    if (g_pWord != nullptr) return true;
    TraceJobThatEndsTheGuardian();

    // The library this process loaded, by full path: the guardian loads the
    // same file at its start, not whatever stands in the folder at a kill.
    const CStringW strLib = AfxGetModulePath(::GetModuleHandleW(L"WrRdIO.dll"));
    g_hMap = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(FanGuardWord), nullptr);
    void* pView = g_hMap != nullptr
                      ? ::MapViewOfFile(g_hMap, FILE_MAP_WRITE, 0, 0, sizeof(FanGuardWord))
                      : nullptr;
    if (strLib.IsEmpty() || pView == nullptr) {
        GuardTrace("Vorlane",
                   "the fan guardian cannot be started; Vorlane hands the fan back itself");
        if (pView != nullptr) ::UnmapViewOfFile(pView);
        if (g_hMap != nullptr) ::CloseHandle(g_hMap);
        g_hMap = nullptr;
        return false;
    }
    g_pWord = static_cast<FanGuardWord*>(pView);
    g_strGuardExe = AfxLongPath(std::wstring(pszExeDir) + L"\\" + kGuardianExe).GetString();
    wchar_t szPlatform[8];
    swprintf(szPlatform, 8, L"%u ", static_cast<unsigned>(bPlatformType));
    g_strGuardArgs = std::wstring(szPlatform) + L"\"" + strLib.GetString() + L"\"";
    return LaunchGuardian();
}

bool EnsureFanGuardian() {
    if (g_pWord == nullptr) return false;
    if (WaitForGuardian(kGuardReadyWaitMs)) return true;
    GuardTrace("Vorlane", "no fan guardian watches; starting one again");
    return LaunchGuardian() && WaitForGuardian(kGuardReadyWaitMs);
}

bool TakeFanLock(DWORD dwTimeoutMs) {
    if (g_hFanLock == nullptr) return true;
    // Abandoned: a copy died holding it, and its guardian did not take it
    // after: nobody hands that fan back any more, so it is free to take.
    DWORD dwWait = ::WaitForSingleObject(g_hFanLock, dwTimeoutMs);
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
}

void ReleaseFanLock() {
    if (g_hFanLock != nullptr) ::ReleaseMutex(g_hFanLock);
}

void FanGuardManualOn() {
    SetState(kFanGuardOwed);
}

void FanGuardHandingBack() {
    SetState(kFanGuardHandingBack);
}

void FanGuardHandedBack() {
    SetState(kFanGuardIdle);
}
