// Drives the real Vorlane.exe: a private install folder, its own simulated EC,
// the main window found by its caption, and the EC calls it made.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "wrrdio/WrRdIOSim.h"

extern const char kMainCaption[];
extern const char kAboutCaption[];

// Waits until `condition` holds or `timeoutMs` passes; returns the last result.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// Gives this test process (and every program it starts) an EC of its own.
void UseOwnSimulatedEc();

// The folder of the running test executable (beside Vorlane.exe and WrRdIO.dll).
std::string TestBinaryDir();

// A file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Removes a folder with everything in it; the wide form takes \\?\ paths.
void RemoveFolderTree(const std::wstring& dir);
void RemoveFolderTree(const std::string& dir);

// A path or name in the ANSI code page, as UTF-16.
std::wstring Widen(const std::string& s);

// Top-level windows that belong to `pid`, visible or not.
std::vector<HWND> TopLevelWindowsOf(DWORD pid);

// A folder holding Vorlane.exe, WrRdIO.dll and VorlaneGuard.exe, removed when
// destroyed.
class InstallDir {
  public:
    InstallDir();
    ~InstallDir();
    void WriteLedIni(const std::string& contents);
    const std::string& Path() const { return m_path; }
    std::string ExePath() const { return m_path + "\\Vorlane.exe"; }

  private:
    std::string m_path;
};

// One running copy of the program. The destructor ends it if it still runs.
class VorlaneProcess {
  public:
    explicit VorlaneProcess(const InstallDir& dir);
    // Starts the program, or a helper of the tests, at any path, including
    // \\?\ paths, with `args` after the quoted path; StartError() tells why it
    // could not be started.
    explicit VorlaneProcess(const std::wstring& exePath, const wchar_t* currentDir = nullptr,
                            const std::wstring& args = L"");
    ~VorlaneProcess();

    DWORD StartError() const { return m_startError; }
    bool Running() const {
        return Started() && ::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
    }
    // The exit code once the process has ended, STILL_ACTIVE before.
    DWORD ExitCode() const;

    bool Started() const { return m_pi.hProcess != nullptr; }
    DWORD Pid() const { return m_pi.dwProcessId; }
    HANDLE Handle() const { return m_pi.hProcess; }
    // The main window of this process, waiting for it to appear.
    HWND WaitForMainWindow(DWORD timeoutMs = 20000);
    HWND MainWindow() const { return m_hWnd; }
    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
    std::string Text(int id) const;
    void Click(int id) const;
    void MoveSlider(int pos, WORD code = TB_THUMBTRACK) const;
    void CheckRadio(int id) const;
    bool WaitForExit(DWORD timeoutMs = 10000) const;
    void Kill();

  private:
    PROCESS_INFORMATION m_pi = {};
    HWND m_hWnd = nullptr;
    DWORD m_startError = 0;
};

// The guardian processes (VorlaneGuard.exe) running now.
std::vector<DWORD> GuardianPids();
// The process that started `pid`; 0 when `pid` is not running.
DWORD ParentPid(DWORD pid);

// The library calls one process made since the log was last cleared.
std::vector<WRSIM_CALL> CallsOf(DWORD pid);
// Waits until `pid` has made at least `count` calls since the last clear.
bool WaitForCalls(DWORD pid, size_t count, DWORD timeoutMs = 10000);

inline WORD Reg(const WRSIM_CALL& c) {
    return static_cast<WORD>(c.args[2] << 8 | c.args[3]);
}
