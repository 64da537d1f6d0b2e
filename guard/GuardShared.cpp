#include "guard/GuardShared.h"

#include <cstdio>
#include <vector>

HANDLE StartGuardProcess(const wchar_t* pszExe, const wchar_t* pszArgs, const HANDLE* pHandles,
                         size_t nHandles) {
    std::wstring cmd = std::wstring(L"\"") + pszExe + L"\" " + pszArgs;

    // Only the handles it needs, not whatever else this process lets inherit.
    std::vector<HANDLE> handles;
    for (size_t i = 0; i < nHandles; ++i) {
        if (pHandles[i] != nullptr) handles.push_back(pHandles[i]);
    }
    SIZE_T nSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &nSize);
    std::vector<BYTE> attrBuf(nSize);
    auto pAttrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuf.data());
    bool bAttrs =
        nSize != 0 && !handles.empty() &&
        ::InitializeProcThreadAttributeList(pAttrs, 1, 0, &nSize) &&
        ::UpdateProcThreadAttribute(pAttrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                    handles.size() * sizeof(HANDLE), nullptr, nullptr);

    STARTUPINFOEXW si = {};
    si.StartupInfo.cb = sizeof(si);
    // It never shows a window: no busy cursor while the system waits for one.
    si.StartupInfo.dwFlags = STARTF_FORCEOFFFEEDBACK;
    si.lpAttributeList = bAttrs ? pAttrs : nullptr;
    const DWORD kFlags = DETACHED_PROCESS | (bAttrs ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION pi = {};
    // Out of the job where it may leave it, so that ending the job spares it.
    bool bStarted = ::CreateProcessW(pszExe, &cmd[0], nullptr, nullptr, TRUE,
                                     kFlags | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr,
                                     &si.StartupInfo, &pi);
    if (!bStarted) {
        // Refused by a job that lets nothing leave it (error 5): started
        // inside, where ending the job as a whole ends the guardian too.
        GuardTrace("Vorlane", "the fan guardian could not leave this process's job");
        bStarted = ::CreateProcessW(pszExe, &cmd[0], nullptr, nullptr, TRUE, kFlags, nullptr,
                                    nullptr, &si.StartupInfo, &pi);
    }
    DWORD dwError = ::GetLastError();
    if (bAttrs) ::DeleteProcThreadAttributeList(pAttrs);
    if (!bStarted) {
        ::SetLastError(dwError);
        return nullptr;
    }
    ::CloseHandle(pi.hThread);
    return pi.hProcess;
}

void GuardTrace(const char* pszWho, const char* pszText) {
    char szLine[192];
    snprintf(szLine, sizeof(szLine), "%s: %s (error %lu)\n", pszWho, pszText,
             static_cast<unsigned long>(::GetLastError()));
    ::OutputDebugStringA(szLine);
}
