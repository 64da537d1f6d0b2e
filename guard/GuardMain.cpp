// VorlaneGuard.exe: started by Vorlane.exe, never by the user; see GuardShared.h.
//
// "detach" starts "watch" with the same arguments and ends at once, so that
// the watcher is nobody's child: ending the program's process tree leaves it.
// "watch" loads the library, marks itself ready in the shared word, waits for
// the program to end and then, if the word says a hand-back is owed or was
// under way, writes 0x9130 = 0 and reads it back.
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

HANDLE HandleArg(const wchar_t* psz) {
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoull(psz, nullptr, 10)));
}

int Detach(wchar_t** argv) {
    const CStringW strSelf = AfxLongPath(AfxGetModulePath(nullptr));
    std::wstring args = std::wstring(kGuardModeWatch) + L" " + argv[2] + L" " + argv[3] + L" " +
                        argv[4] + L" \"" + argv[5] + L"\"";
    HANDLE hWatcher =
        StartGuardProcess(strSelf, args.c_str(), HandleArg(argv[2]), HandleArg(argv[3]));
    if (hWatcher == nullptr) {
        GuardTrace("VorlaneGuard", "could not start the watcher");
        return 4;
    }
    ::CloseHandle(hWatcher);
    return 0;
}

// Writes the EC's own control back and checks that it took.
void HandBack(GetRegisterFn pfnGet, SetRegisterFn pfnSet, BYTE bPlatform) {
    const EcIndexTriple t = EcTripleFor(bPlatform);
    const BYTE bHigh = EcHighByte(kRegManualMode), bLow = EcLowByte(kRegManualMode);
    for (int i = 0; i < kGuardWriteAttempts; ++i) {
        pfnSet(kEcPortCmd, kEcPortData, bHigh, bLow, 0, t.b1, t.b2, t.b3, kEcWriteConst1,
               kEcWriteConst2);
        const int nRead = pfnGet(kEcPortCmd, kEcPortData, bHigh, bLow, t.b1, t.b2, t.b3,
                                 kEcReadConst1, kEcReadConst2);
        if ((nRead & 0xFF) == 0) return;
    }
    GuardTrace("VorlaneGuard", "0x9130 did not read back 0");
}

int Watch(wchar_t** argv) {
    HANDLE hProcess = HandleArg(argv[2]);
    FanGuardWord* pWord = static_cast<FanGuardWord*>(
        ::MapViewOfFile(HandleArg(argv[3]), FILE_MAP_WRITE, 0, 0, sizeof(FanGuardWord)));
    if (pWord == nullptr) {
        GuardTrace("VorlaneGuard", "could not map the shared word");
        return 5;
    }
    const BYTE bPlatform = wcstoul(argv[4], nullptr, 10) != 0 ? 1 : 0;
    // Loaded now, by the full path the program loaded it from: a file put in
    // its place later is never loaded here.
    HMODULE hLib = ::LoadLibraryExW(
        argv[5], nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    auto pfnGet = hLib ? reinterpret_cast<GetRegisterFn>(reinterpret_cast<void*>(
                             ::GetProcAddress(hLib, "_GetRegisterValue@36")))
                       : nullptr;
    auto pfnSet = hLib ? reinterpret_cast<SetRegisterFn>(reinterpret_cast<void*>(
                             ::GetProcAddress(hLib, "_SetRegisterValue@40")))
                       : nullptr;
    HANDLE hFanLock = ::CreateMutexW(nullptr, FALSE, kFanLockName);
    if (pfnGet == nullptr || pfnSet == nullptr || hFanLock == nullptr) {
        GuardTrace("VorlaneGuard", "could not reach WrRdIO.dll or the fan lock");
        return 7;
    }
    ::InterlockedExchange(&pWord->nWatcherPid, static_cast<LONG>(::GetCurrentProcessId()));

    // The one wait: no polling, no timer.
    if (::WaitForSingleObject(hProcess, INFINITE) != WAIT_OBJECT_0) return 6;
    if (pWord->nState == kFanGuardIdle) return 0;
    const DWORD dwLock = ::WaitForSingleObject(hFanLock, 0);
    if (dwLock != WAIT_OBJECT_0 && dwLock != WAIT_ABANDONED) return 0;
    HandBack(pfnGet, pfnSet, bPlatform);
    ::ReleaseMutex(hFanLock);
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
