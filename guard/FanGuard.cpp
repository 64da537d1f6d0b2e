#include "guard/FanGuard.h"

#include <aclapi.h>
#include <sddl.h>

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
HANDLE g_hFanLock = nullptr;      // null when the name holds no lock of ours
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

// Only an elevated administrator or the system can have made this object.
bool OwnedByAdministrators(HANDLE hObject) {
    PSID pOwner = nullptr;
    PSECURITY_DESCRIPTOR pSD = nullptr;
    if (::GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr,
                          nullptr, nullptr, &pSD) != ERROR_SUCCESS) {
        return false;
    }
    bool bOurs = pOwner != nullptr && (::IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid) ||
                                       ::IsWellKnownSid(pOwner, WinLocalSystemSid));
    ::LocalFree(pSD);
    return bOurs;
}

// The machine's fan lock, or null when its name is another program's.
HANDLE OpenFanLock() {
    PSECURITY_DESCRIPTOR pSD = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kFanLockSecurity, SDDL_REVISION_1,
                                                                &pSD, nullptr)) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES sa = {sizeof(sa), pSD, FALSE};
    HANDLE hLock = ::CreateMutexW(&sa, FALSE, kFanLockName);
    ::LocalFree(pSD);
    if (hLock != nullptr && !OwnedByAdministrators(hLock)) {
        ::CloseHandle(hLock);
        hLock = nullptr;
    }
    if (hLock == nullptr) {
        GuardTrace("Vorlane",
                   "the fan lock's name is another program's; Test will not take the fan");
    }
    return hLock;
}

bool LaunchGuardian() {
    HANDLE hSelf = nullptr, hMap = nullptr, hLock = nullptr;
    HANDLE hStarter = nullptr;
    const HANDLE hThis = ::GetCurrentProcess();
    if (::DuplicateHandle(hThis, hThis, hThis, &hSelf, SYNCHRONIZE, TRUE, 0) &&
        ::DuplicateHandle(hThis, g_hMap, hThis, &hMap, 0, TRUE, DUPLICATE_SAME_ACCESS) &&
        (g_hFanLock == nullptr || ::DuplicateHandle(hThis, g_hFanLock, hThis, &hLock,
                                                    SYNCHRONIZE | MUTEX_MODIFY_STATE, TRUE, 0))) {
        wchar_t szHandles[96];
        swprintf(szHandles, 96, L"%llu %llu %llu ",
                 static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hSelf)),
                 static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hMap)),
                 static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hLock)));
        std::wstring args = std::wstring(kGuardModeDetach) + L" " + szHandles + g_strGuardArgs;
        ::InterlockedExchange(&g_pWord->nWatcherError, 0);
        const HANDLE handles[] = {hSelf, hMap, hLock};
        hStarter = StartGuardProcess(g_strGuardExe.c_str(), args.c_str(), handles, 3);
    }
    if (hStarter == nullptr) GuardTrace("Vorlane", "the fan guardian did not start");
    // The guardian holds its own copies now.
    for (HANDLE h : {hSelf, hMap, hLock}) {
        if (h != nullptr) ::CloseHandle(h);
    }
    if (hStarter == nullptr) return false;
    if (g_hStarter != nullptr) ::CloseHandle(g_hStarter);
    g_hStarter = hStarter;
    return true;
}

// The process behind `hProcess` is the watcher that marked itself, not a
// later process that was given its id.
bool IsMarkedWatcher(HANDLE hProcess) {
    FILETIME ftCreated, ftExit, ftKernel, ftUser;
    return ::GetProcessTimes(hProcess, &ftCreated, &ftExit, &ftKernel, &ftUser) &&
           ftCreated.dwLowDateTime == static_cast<DWORD>(g_pWord->nWatcherCreatedLow) &&
           ftCreated.dwHighDateTime == static_cast<DWORD>(g_pWord->nWatcherCreatedHigh);
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
        if (g_hWatcher != nullptr && !IsMarkedWatcher(g_hWatcher)) {
            ::CloseHandle(g_hWatcher);
            g_hWatcher = nullptr;
        }
    }
    if (g_hWatcher != nullptr && ::WaitForSingleObject(g_hWatcher, 0) == WAIT_TIMEOUT) return true;
    // Gone: the mark is stale.
    ::InterlockedCompareExchange(&g_pWord->nWatcherPid, 0, nPid);
    if (g_hWatcher != nullptr) ::CloseHandle(g_hWatcher);
    g_hWatcher = nullptr;
    return false;
}

// Waits for a starting guardian to mark itself ready; gives up early when it
// or its starter has already failed.
bool WaitForGuardian(DWORD dwTimeoutMs) {
    const DWORD dwStart = ::GetTickCount();
    for (;;) {
        if (GuardianWatching()) return true;
        if (g_pWord->nWatcherError != 0) return false;
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
    static bool bLockOpened = false;
    if (!bLockOpened) {
        bLockOpened = true;
        g_hFanLock = OpenFanLock();
    }
    if (g_pWord != nullptr) return true;
    TraceJobThatEndsTheGuardian();

    // The library this process loaded, by full path: the guardian holds that
    // file from its start, and loads it only to hand the fan back.
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

FanLock TakeFanLock() {
    if (g_hFanLock == nullptr) return kFanLockUntrusted;
    // Abandoned: a copy died holding it, and its guardian did not take it
    // after: nobody hands that fan back any more, so it is free to take.
    const DWORD dwWait = ::WaitForSingleObject(g_hFanLock, 0);
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED ? kFanLockTaken : kFanLockBusy;
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
