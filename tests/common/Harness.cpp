#include "tests/common/Harness.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>

#include "ui/resource.h"

const char kMainCaption[] = "Vorlane by Tobrin Quarvisk..";
const char kAboutCaption[] = "About Vorlane";

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    while (!condition()) {
        if (::GetTickCount() - start > timeoutMs) return condition();
        ::Sleep(20);
    }
    return true;
}

void UseOwnSimulatedEc() {
    char name[64];
    snprintf(name, sizeof(name), "Local\\VorlaneTestEC%lu",
             static_cast<unsigned long>(::GetCurrentProcessId()));
    ::SetEnvironmentVariableA("WRRDIO_SIM_NAME", name);
}

InstallDir::InstallDir() {
    static int s_counter = 0;
    char tmp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, tmp);
    char name[MAX_PATH];
    snprintf(name, sizeof(name), "%svorlane-e2e-%lu-%d", tmp,
             static_cast<unsigned long>(::GetCurrentProcessId()), ++s_counter);
    m_path = name;
    RemoveFolderTree(m_path);
    ::CreateDirectoryA(m_path.c_str(), nullptr);
    for (const char* pszFile : {"Vorlane.exe", "WrRdIO.dll", "VorlaneGuard.exe"}) {
        std::string file = std::string("\\") + pszFile;
        ::CopyFileA((TestBinaryDir() + file).c_str(), (m_path + file).c_str(), FALSE);
    }
}

InstallDir::~InstallDir() {
    RemoveFolderTree(m_path);
}

void InstallDir::WriteLedIni(const std::string& contents) {
    std::string dataDir = m_path + "\\data";
    ::CreateDirectoryA(dataDir.c_str(), nullptr);
    FILE* f = fopen((dataDir + "\\Led.ini").c_str(), "wb");
    if (f == nullptr) return;
    fwrite(contents.data(), 1, contents.size(), f);
    fclose(f);
}

VorlaneProcess::VorlaneProcess(const InstallDir& dir)
    : VorlaneProcess(Widen(dir.ExePath()), Widen(dir.Path()).c_str()) {}

VorlaneProcess::VorlaneProcess(const std::wstring& exePath, const wchar_t* currentDir,
                               const std::wstring& args) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::wstring cmd = L"\"" + exePath + L"\"" + args;
    // Wine fails CreateProcess when the new process dies in its own start-up,
    // before any of the program's code runs; on a loaded host that happens now
    // and then. Say so and try again rather than fail a case that never ran.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (::CreateProcessW(exePath.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                             currentDir, &si, &m_pi)) {
            m_startError = 0;
            return;
        }
        m_startError = ::GetLastError();
        m_pi = {};
        fprintf(stderr, "[harness] start %d failed with error %lu\n", attempt,
                static_cast<unsigned long>(m_startError));
        // A name the system cannot use stays unusable.
        if (m_startError == ERROR_FILE_NOT_FOUND || m_startError == ERROR_PATH_NOT_FOUND ||
            m_startError == ERROR_INVALID_NAME)
            return;
        ::Sleep(250);
    }
}

DWORD VorlaneProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (Started()) ::GetExitCodeProcess(m_pi.hProcess, &code);
    return code;
}

VorlaneProcess::~VorlaneProcess() {
    Kill();
}

void VorlaneProcess::Kill() {
    if (m_pi.hProcess == nullptr) return;
    if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_pi.hProcess, 1);
        ::WaitForSingleObject(m_pi.hProcess, 10000);
    }
    ::CloseHandle(m_pi.hThread);
    ::CloseHandle(m_pi.hProcess);
    m_pi = {};
    m_hWnd = nullptr;
}

HWND VorlaneProcess::WaitForMainWindow(DWORD timeoutMs) {
    if (!Started()) return nullptr;
    WaitFor(
        [this] {
            m_hWnd = nullptr;
            for (HWND hWnd : TopLevelWindowsOf(Pid())) {
                char caption[64] = {}, cls[16] = {};
                ::GetWindowTextA(hWnd, caption, sizeof(caption));
                ::GetClassNameA(hWnd, cls, sizeof(cls));
                if (lstrcmpA(caption, kMainCaption) == 0 && lstrcmpA(cls, "#32770") == 0) {
                    m_hWnd = hWnd;
                }
            }
            return m_hWnd != nullptr && ::IsWindowVisible(m_hWnd);
        },
        timeoutMs);
    return m_hWnd;
}

std::string VorlaneProcess::Text(int id) const {
    char buf[256] = {};
    ::SendMessageA(Item(id), WM_GETTEXT, sizeof(buf), reinterpret_cast<LPARAM>(buf));
    return buf;
}

void VorlaneProcess::Click(int id) const {
    ::SendMessageA(Item(id), BM_CLICK, 0, 0);
}

void VorlaneProcess::MoveSlider(int pos, WORD code) const {
    HWND hSlider = Item(IDC_PWM_SLIDER);
    ::SendMessageA(hSlider, TBM_SETPOS, TRUE, pos);
    ::SendMessageA(m_hWnd, WM_HSCROLL, MAKEWPARAM(code, pos), reinterpret_cast<LPARAM>(hSlider));
}

void VorlaneProcess::CheckRadio(int id) const {
    Click(id);
}

bool VorlaneProcess::WaitForExit(DWORD timeoutMs) const {
    return Started() && ::WaitForSingleObject(m_pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

namespace {

// Every running process's entry, to `visit`, until it answers false.
void ForEachProcess(const std::function<bool(const PROCESSENTRY32&)>& visit) {
    HANDLE hSnap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL b = ::Process32First(hSnap, &pe); b && visit(pe); b = ::Process32Next(hSnap, &pe)) {
    }
    ::CloseHandle(hSnap);
}

}  // namespace

std::vector<DWORD> GuardianPids() {
    std::vector<DWORD> pids;
    ForEachProcess([&](const PROCESSENTRY32& pe) {
        if (lstrcmpiA(pe.szExeFile, "VorlaneGuard.exe") == 0) pids.push_back(pe.th32ProcessID);
        return true;
    });
    return pids;
}

DWORD ParentPid(DWORD pid) {
    DWORD parent = 0;
    ForEachProcess([&](const PROCESSENTRY32& pe) {
        if (pe.th32ProcessID == pid) parent = pe.th32ParentProcessID;
        return parent == 0;
    });
    return parent;
}

std::vector<WRSIM_CALL> CallsOf(DWORD pid) {
    std::vector<WRSIM_CALL> calls;
    WRSIM_CALL c;
    for (DWORD i = 0; WrSimLogGet(i, &c); ++i) {
        if (c.processId == pid) calls.push_back(c);
    }
    return calls;
}

bool WaitForCalls(DWORD pid, size_t count, DWORD timeoutMs) {
    return WaitFor([&] { return CallsOf(pid).size() >= count; }, timeoutMs);
}

std::string TestBinaryDir() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.rfind('\\'));
}

std::string ReadWholeFile(const std::string& path) {
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) data.append(buf, n);
    fclose(f);
    return data;
}

void RemoveFolderTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolderTree(full);
            } else {
                ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(full.c_str());
            }
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(dir.c_str());
}

void RemoveFolderTree(const std::string& dir) {
    RemoveFolderTree(Widen(dir));
}

std::wstring Widen(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0],
                                  static_cast<int>(w.size()));
    w.resize(n > 0 ? n : 0);
    return w;
}

namespace {
BOOL CALLBACK CollectWindowsOf(HWND hWnd, LPARAM lParam) {
    auto* found = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid == found->first) found->second.push_back(hWnd);
    return TRUE;
}
}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
    std::pair<DWORD, std::vector<HWND>> found(pid, {});
    ::EnumWindows(CollectWindowsOf, reinterpret_cast<LPARAM>(&found));
    return found.second;
}
