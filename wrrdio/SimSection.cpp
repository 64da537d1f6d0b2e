#include "SimSection.h"

#include <string.h>

#include "EcModel.h"

namespace wrsim {

namespace {

const char kDefaultName[] = "Local\\VorlaneSimEC";
const char kMutexSuffix[] = ".lock";
// A process that died inside the EC is found gone and its place taken; this
// bound only covers a live process stuck inside it.
const DWORD kLockTimeoutMs = 10000;
// Tries that only spin before a waiter yields its time slice, and that only
// yield before it sleeps and looks whether the process inside still lives.
const unsigned kSpins = 64;
const unsigned kYields = 256;

INIT_ONCE g_initOnce = INIT_ONCE_STATIC_INIT;
HANDLE g_hMutex;
HANDLE g_hSection;
SIM_SHARED* g_pShared;

// The section is set up under a named mutex, once per process.
bool LockSetUp() {
    const DWORD wait = WaitForSingleObject(g_hMutex, kLockTimeoutMs);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

// This process, as the section's owner word names it: its id and the low
// half of its start time, so that a later process under the same id is not
// taken for it.
LONGLONG OwnerWord() {
    static const LONGLONG s_llWord = [] {
        FILETIME ftCreate, ftExit, ftKernel, ftUser;
        DWORD dwStart = 0;
        if (GetProcessTimes(GetCurrentProcess(), &ftCreate, &ftExit, &ftKernel, &ftUser))
            dwStart = ftCreate.dwLowDateTime;
        return static_cast<LONGLONG>(GetCurrentProcessId()) << 32 | dwStart;
    }();
    return s_llWord;
}

// Whether the process an owner word names has ended.
bool OwnerGone(LONGLONG llOwner) {
    const DWORD pid = static_cast<DWORD>(static_cast<ULONGLONG>(llOwner) >> 32);
    if (pid == GetCurrentProcessId()) return false;
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (hProcess == NULL) return GetLastError() == ERROR_INVALID_PARAMETER;
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    DWORD dwExit = 0;
    const bool bGone = !GetExitCodeProcess(hProcess, &dwExit) || dwExit != STILL_ACTIVE ||
                       !GetProcessTimes(hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser) ||
                       ftCreate.dwLowDateTime != static_cast<DWORD>(llOwner);
    CloseHandle(hProcess);
    return bGone;
}

// Every EC call takes the section, many times a second. A named mutex would
// cost two round trips to the system (under Wine, to its server) a call;
// the owner word in the section costs none while nobody waits. A waiter
// spins, then yields, then sleeps, and takes the place of a process that
// ended inside the EC, as a mutex would be abandoned to it.
bool Lock(SIM_SHARED* pShared) {
    const LONGLONG llMe = OwnerWord();
    const DWORD dwStart = GetTickCount();
    for (unsigned n = 0;; ++n) {
        const LONGLONG llOwner = InterlockedCompareExchange64(&pShared->llOwner, llMe, 0);
        if (llOwner == 0) return true;
        if (n < kSpins) {
            YieldProcessor();
        } else if (n < kSpins + kYields) {
            Sleep(0);
        } else if (OwnerGone(llOwner)) {
            if (InterlockedCompareExchange64(&pShared->llOwner, llMe, llOwner) == llOwner)
                return true;
        } else if (GetTickCount() - dwStart > kLockTimeoutMs) {
            return false;
        } else {
            Sleep(1);
        }
    }
}

void Unlock(SIM_SHARED* pShared) {
    InterlockedExchange64(&pShared->llOwner, 0);
}

BOOL CALLBACK OpenSection(PINIT_ONCE, PVOID, PVOID*) {
    char szName[MAX_PATH];
    const DWORD nName = GetEnvironmentVariableA("WRRDIO_SIM_NAME", szName, sizeof(szName));
    if (nName == 0) {
        strcpy(szName, kDefaultName);
    } else if (nName + sizeof(kMutexSuffix) > sizeof(szName)) {
        return TRUE;  // too long to name both objects: no EC
    }
    // Mutexes and sections share one namespace, so they need different names.
    char szMutex[MAX_PATH];
    strcpy(szMutex, szName);
    strcat(szMutex, kMutexSuffix);

    g_hMutex = CreateMutexA(NULL, FALSE, szMutex);
    if (g_hMutex == NULL) return TRUE;
    g_hSection = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                    sizeof(SIM_SHARED), szName);
    void* pView = g_hSection
                      ? MapViewOfFile(g_hSection, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SIM_SHARED))
                      : NULL;
    if (pView == NULL || !LockSetUp()) {
        if (pView) UnmapViewOfFile(pView);
        if (g_hSection) CloseHandle(g_hSection);
        CloseHandle(g_hMutex);
        g_hSection = g_hMutex = NULL;
        return TRUE;
    }
    SIM_SHARED* pShared = static_cast<SIM_SHARED*>(pView);
    // The first process to take the mutex powers the EC on; the others find it running.
    if (pShared->dwMagic != kSectionMagic || pShared->dwVersion != kLayoutVersion) {
        PowerOn(*pShared, GetTickCount() ^ GetCurrentProcessId());
        pShared->llOwner = 0;  // nobody can be inside an EC that was not on
    }
    ReleaseMutex(g_hMutex);
    g_pShared = pShared;
    return TRUE;
}

}  // namespace

SIM_SHARED* SharedUnlocked() {
    InitOnceExecuteOnce(&g_initOnce, OpenSection, NULL, NULL);
    return g_pShared;
}

CSimLock::CSimLock() : m_pShared(SharedUnlocked()) {
    if (m_pShared && !Lock(m_pShared)) m_pShared = NULL;
}

CSimLock::~CSimLock() {
    if (m_pShared) Unlock(m_pShared);
}

bool EnterForGood() {
    SIM_SHARED* pShared = SharedUnlocked();
    return pShared != NULL && Lock(pShared);
}

void CloseSection() {
    if (g_pShared) UnmapViewOfFile(g_pShared);
    if (g_hSection) CloseHandle(g_hSection);
    if (g_hMutex) CloseHandle(g_hMutex);
    g_pShared = NULL;
    g_hSection = g_hMutex = NULL;
}

}  // namespace wrsim
