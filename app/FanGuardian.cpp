#include "app/FanGuardian.h"

#include <cstdio>
#include <cstring>

#include "ec/EcProtocol.h"

namespace {

const char kGuardianExe[] = "VorlaneGuard.exe";

// The word shared with the guardian; null when there is none.
volatile LONG* g_pGuardWord = nullptr;

void Trace(const char* pszText) {
    char szLine[160];
    snprintf(szLine, sizeof(szLine), "Vorlane: %s (error %lu)\n", pszText,
             static_cast<unsigned long>(::GetLastError()));
    ::OutputDebugStringA(szLine);
}

// Another process of ours, handed the inheritable handles, with no window and
// outside any job that would end it together with the program where the job
// allows that.
bool StartDetached(char* pszCommandLine) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    const DWORD kFlags = DETACHED_PROCESS;
    if (!::CreateProcessA(nullptr, pszCommandLine, nullptr, nullptr, TRUE,
                          kFlags | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &si, &pi) &&
        !::CreateProcessA(nullptr, pszCommandLine, nullptr, nullptr, TRUE, kFlags, nullptr, nullptr,
                          &si, &pi)) {
        return false;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

void SetGuardWord(LONG nState) {
    if (g_pGuardWord != nullptr) ::InterlockedExchange(g_pGuardWord, nState);
}

// The folder of this executable, with its trailing backslash.
bool ExeFolder(char (&szDir)[MAX_PATH]) {
    DWORD n = ::GetModuleFileNameA(nullptr, szDir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    char* pszSlash = strrchr(szDir, '\\');
    if (pszSlash == nullptr) return false;
    pszSlash[1] = '\0';
    return true;
}

}  // namespace

bool StartFanGuardian(BYTE bPlatformType) {
    if (g_pGuardWord != nullptr) return true;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE hMap =
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, sizeof(LONG), nullptr);
    HANDLE hSelf = nullptr;
    char szDir[MAX_PATH];
    bool bStarted = false;
    if (hMap != nullptr && ExeFolder(szDir) &&
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                          &hSelf, SYNCHRONIZE, TRUE, 0)) {
        void* pView = ::MapViewOfFile(hMap, FILE_MAP_WRITE, 0, 0, sizeof(LONG));
        char szCmd[MAX_PATH + 96];
        int n = snprintf(szCmd, sizeof(szCmd), "\"%s%s\" detach %llu %llu %u", szDir, kGuardianExe,
                         static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hSelf)),
                         static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hMap)),
                         static_cast<unsigned>(bPlatformType));
        if (pView != nullptr && n > 0 && n < static_cast<int>(sizeof(szCmd)) &&
            StartDetached(szCmd)) {
            g_pGuardWord = static_cast<volatile LONG*>(pView);
            bStarted = true;
        } else if (pView != nullptr) {
            ::UnmapViewOfFile(pView);
        }
    }
    if (!bStarted) Trace("the fan guardian did not start; Vorlane hands the fan back itself");
    // The guardian holds its own copies now; the view keeps the word alive here.
    if (hSelf != nullptr) ::CloseHandle(hSelf);
    if (hMap != nullptr) ::CloseHandle(hMap);
    return bStarted;
}

void FanGuardManualOn() {
    SetGuardWord(kFanGuardOwed);
}

void FanGuardHandingBack() {
    SetGuardWord(kFanGuardHandingBack);
}

void FanGuardHandedBack() {
    SetGuardWord(kFanGuardIdle);
}

// "detach H M P" starts "watch H M P" and ends at once, so that the watcher is
// nobody's child: ending the program's process tree leaves it running.
// "watch H M P" waits for the process H to end, then writes 0x9130 = 0 with
// the index triple of platform flag P if the word in mapping M says so.
int RunFanGuardian(const char* pszCommandLine) {
    char szMode[16] = "";
    unsigned long long nProcess = 0, nMap = 0;
    unsigned nPlatform = 0;
    if (sscanf(pszCommandLine, "%15s %llu %llu %u", szMode, &nProcess, &nMap, &nPlatform) != 4) {
        return 2;
    }
    char szDir[MAX_PATH];
    if (!ExeFolder(szDir)) return 3;

    if (strcmp(szMode, "detach") == 0) {
        char szCmd[MAX_PATH + 96];
        int n = snprintf(szCmd, sizeof(szCmd), "\"%s%s\" watch %llu %llu %u", szDir, kGuardianExe,
                         nProcess, nMap, nPlatform);
        if (n <= 0 || n >= static_cast<int>(sizeof(szCmd)) || !StartDetached(szCmd)) {
            Trace("the fan guardian could not detach");
            return 4;
        }
        return 0;
    }
    if (strcmp(szMode, "watch") != 0) return 2;

    HANDLE hProcess = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(nProcess));
    HANDLE hMap = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(nMap));
    const volatile LONG* pWord =
        static_cast<const volatile LONG*>(::MapViewOfFile(hMap, FILE_MAP_READ, 0, 0, sizeof(LONG)));
    if (pWord == nullptr) return 5;
    // The one wait: no polling, no timer.
    if (::WaitForSingleObject(hProcess, INFINITE) != WAIT_OBJECT_0) return 6;
    if (*pWord == kFanGuardIdle) return 0;

    // Loaded only now: a guardian that never writes never touches the library.
    char szLib[MAX_PATH + 16];
    snprintf(szLib, sizeof(szLib), "%sWrRdIO.dll", szDir);
    HMODULE hLib = ::LoadLibraryA(szLib);
    typedef int(__stdcall * SetRegisterFn)(BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE,
                                           BYTE);
    SetRegisterFn pfnSet = hLib != nullptr
                               ? reinterpret_cast<SetRegisterFn>(reinterpret_cast<void*>(
                                     ::GetProcAddress(hLib, "_SetRegisterValue@40")))
                               : nullptr;
    if (pfnSet == nullptr) {
        Trace("the fan guardian could not reach WrRdIO.dll");
        return 7;
    }
    const EcIndexTriple t = EcTripleFor(nPlatform != 0);
    pfnSet(kEcPortCmd, kEcPortData, HIBYTE(kRegManualMode), LOBYTE(kRegManualMode), 0, t.b1, t.b2,
           t.b3, 1, 2);
    return 0;
}
