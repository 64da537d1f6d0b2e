// VorlaneGuard.exe: started by Vorlane.exe, never by the user; see GuardShared.h.
//
// "detach" starts "watch" with the same arguments and ends at once, so that
// the watcher is nobody's child: ending the program's process tree leaves it.
// "watch" holds the library's file, marks itself ready in the shared word,
// waits for the program to end and then, if the word says a hand-back is owed
// or was under way, loads the library, writes 0x9130 = 0 and reads it back.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "ec/EcProtocol.h"
#include "framework/StringW.h"
#include "guard/GuardShared.h"

namespace {

typedef int(__stdcall* GetRegisterFn)(BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE);
typedef int(__stdcall* SetRegisterFn)(BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE);

// The arguments after the mode.
enum { kArgProcess = 2, kArgMapping, kArgLock, kArgPlatform, kArgLibrary };

HANDLE HandleArg(const wchar_t* psz) {
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoull(psz, nullptr, 10)));
}

int Detach(wchar_t** argv) {
    const CStringW strSelf = AfxLongPath(AfxGetModulePath(nullptr));
    std::wstring args = std::wstring(kGuardModeWatch) + L" " + argv[kArgProcess] + L" " +
                        argv[kArgMapping] + L" " + argv[kArgLock] + L" " + argv[kArgPlatform] +
                        L" \"" + argv[kArgLibrary] + L"\"";
    const HANDLE handles[] = {HandleArg(argv[kArgProcess]), HandleArg(argv[kArgMapping]),
                              HandleArg(argv[kArgLock])};
    HANDLE hWatcher = StartGuardProcess(strSelf, args.c_str(), handles, 3);
    if (hWatcher == nullptr) {
        GuardTrace("VorlaneGuard", "could not start the watcher");
        return 4;
    }
    ::CloseHandle(hWatcher);
    return 0;
}

// Tells the program at once that no watcher will come, so that it does not wait.
int NotReady(FanGuardWord* pWord, const char* pszWhy, int nExitCode) {
    const DWORD dwError = ::GetLastError();
    GuardTrace("VorlaneGuard", pszWhy);
    ::InterlockedExchange(&pWord->nWatcherError, dwError != 0 ? static_cast<LONG>(dwError) : -1);
    return nExitCode;
}

bool SameFile(HANDLE hFile, const wchar_t* pszPath) {
    HANDLE hOther = ::CreateFileW(pszPath, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (hOther == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    bool bSame = ::GetFileInformationByHandle(hFile, &a) &&
                 ::GetFileInformationByHandle(hOther, &b) &&
                 a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                 a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    ::CloseHandle(hOther);
    return bSame;
}

// Writes the EC's own control back through the library whose file this
// process has held since the program loaded it, and checks that it took.
void HandBack(HANDLE hLibFile, const wchar_t* pszLibrary, BYTE bPlatform) {
    // The folder above a held file can still be renamed and another put in
    // its place: only the very file the program loaded is loaded here.
    const CStringW strLibrary = AfxLongPath(pszLibrary);
    if (!SameFile(hLibFile, strLibrary)) {
        GuardTrace("VorlaneGuard", "WrRdIO.dll is no longer the file Vorlane loaded");
        return;
    }
    // Its own dependencies as the program's load found them: from its folder
    // and the system's, never from the current folder.
    HMODULE hLib = ::LoadLibraryExW(strLibrary, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    auto pfnGet = hLib ? reinterpret_cast<GetRegisterFn>(reinterpret_cast<void*>(
                             ::GetProcAddress(hLib, "_GetRegisterValue@36")))
                       : nullptr;
    auto pfnSet = hLib ? reinterpret_cast<SetRegisterFn>(reinterpret_cast<void*>(
                             ::GetProcAddress(hLib, "_SetRegisterValue@40")))
                       : nullptr;
    if (pfnGet == nullptr || pfnSet == nullptr) {
        GuardTrace("VorlaneGuard", "could not load WrRdIO.dll");
        return;
    }
    const EcIndexTriple t = EcTripleFor(bPlatform);
    const BYTE bHigh = EcHighByte(kRegManualMode), bLow = EcLowByte(kRegManualMode);
    for (int i = 0; i < kGuardWriteAttempts; ++i) {
        pfnSet(kEcPortCmd, kEcPortData, bHigh, bLow, 0, t.b1, t.b2, t.b3, kEcWriteConst1,
               kEcWriteConst2);
        const int nRead = pfnGet(kEcPortCmd, kEcPortData, bHigh, bLow, t.b1, t.b2, t.b3,
                                 kEcReadConst1, kEcReadConst2);
        // A negative result is a failed read, not a register that reads 0.
        if (nRead >= 0 && (nRead & 0xFF) == 0) return;
    }
    GuardTrace("VorlaneGuard", "0x9130 did not read back 0");
}

int Watch(wchar_t** argv) {
    HANDLE hProcess = HandleArg(argv[kArgProcess]);
    FanGuardWord* pWord = static_cast<FanGuardWord*>(
        ::MapViewOfFile(HandleArg(argv[kArgMapping]), FILE_MAP_WRITE, 0, 0, sizeof(FanGuardWord)));
    if (pWord == nullptr) {
        GuardTrace("VorlaneGuard", "could not map the shared word");
        return 5;
    }
    HANDLE hFanLock = HandleArg(argv[kArgLock]);
    const BYTE bPlatform = wcstoul(argv[kArgPlatform], nullptr, 10) != 0 ? 1 : 0;
    // The current folder may be anyone's: nothing is ever loaded from it.
    ::SetDllDirectoryW(L"");
    // Held, not loaded: the library's own start-up code runs in the program
    // alone, which may be all its driver allows. Opened without
    // FILE_SHARE_WRITE or FILE_SHARE_DELETE, the file cannot be overwritten,
    // renamed or deleted while this handle is open, so what a hand-back loads
    // is the file the program loaded.
    HANDLE hLibFile = ::CreateFileW(AfxLongPath(argv[kArgLibrary]), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (hLibFile == INVALID_HANDLE_VALUE) return NotReady(pWord, "could not hold WrRdIO.dll", 7);
    FILETIME ftCreated, ftExit, ftKernel, ftUser;
    if (!::GetProcessTimes(::GetCurrentProcess(), &ftCreated, &ftExit, &ftKernel, &ftUser)) {
        return NotReady(pWord, "could not read its own creation time", 7);
    }
    ::InterlockedExchange(&pWord->nWatcherCreatedLow, static_cast<LONG>(ftCreated.dwLowDateTime));
    ::InterlockedExchange(&pWord->nWatcherCreatedHigh, static_cast<LONG>(ftCreated.dwHighDateTime));
    ::InterlockedExchange(&pWord->nWatcherPid, static_cast<LONG>(::GetCurrentProcessId()));

    // The one wait: no polling, no timer.
    if (::WaitForSingleObject(hProcess, INFINITE) != WAIT_OBJECT_0) return 6;
    if (pWord->nState == kFanGuardIdle) return 0;
    if (hFanLock != nullptr) {
        const DWORD dwLock = ::WaitForSingleObject(hFanLock, 0);
        if (dwLock != WAIT_OBJECT_0 && dwLock != WAIT_ABANDONED) return 0;
    }
    HandBack(hLibFile, argv[kArgLibrary], bPlatform);
    if (hFanLock != nullptr) ::ReleaseMutex(hFanLock);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc != kGuardArgCount) return 2;
    if (wcscmp(argv[1], kGuardModeDetach) == 0) return Detach(argv);
    if (wcscmp(argv[1], kGuardModeWatch) == 0) return Watch(argv);
    return 2;
}
