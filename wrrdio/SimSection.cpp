#include "SimSection.h"

#include <string.h>

#include "EcModel.h"

namespace wrsim {

namespace {

const char kDefaultName[] = "Local\\VorlaneSimEC";
const char kMutexSuffix[] = ".lock";
// A process that died holding the mutex abandons it and the wait succeeds;
// this bound only covers a live process stuck inside it.
const DWORD kLockTimeoutMs = 10000;

INIT_ONCE g_initOnce = INIT_ONCE_STATIC_INIT;
HANDLE g_hMutex;
HANDLE g_hSection;
SIM_SHARED* g_pShared;

bool Lock() {
    const DWORD wait = WaitForSingleObject(g_hMutex, kLockTimeoutMs);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
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
    if (pView == NULL || !Lock()) {
        if (pView) UnmapViewOfFile(pView);
        if (g_hSection) CloseHandle(g_hSection);
        CloseHandle(g_hMutex);
        g_hSection = g_hMutex = NULL;
        return TRUE;
    }
    SIM_SHARED* pShared = static_cast<SIM_SHARED*>(pView);
    // The first process to take the mutex powers the EC on; the others find it running.
    if (pShared->dwMagic != kSectionMagic || pShared->dwVersion != kLayoutVersion)
        PowerOn(*pShared, GetTickCount() ^ GetCurrentProcessId());
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
    if (m_pShared && !Lock()) m_pShared = NULL;
}

CSimLock::~CSimLock() {
    if (m_pShared) ReleaseMutex(g_hMutex);
}

void CloseSection() {
    if (g_pShared) UnmapViewOfFile(g_pShared);
    if (g_hSection) CloseHandle(g_hSection);
    if (g_hMutex) CloseHandle(g_hMutex);
    g_pShared = NULL;
    g_hSection = g_hMutex = NULL;
}

}  // namespace wrsim
