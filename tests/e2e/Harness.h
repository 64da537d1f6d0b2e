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

// Waits until `condition` holds or `timeoutMs` passes; returns the last result.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// Gives this test process (and every program it starts) an EC of its own.
void UseOwnSimulatedEc();

// A folder holding Vorlane.exe and WrRdIO.dll, removed when destroyed.
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
    ~VorlaneProcess();

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
};

// The library calls one process made since the log was last cleared.
std::vector<WRSIM_CALL> CallsOf(DWORD pid);
// Waits until `pid` has made at least `count` calls since the last clear.
bool WaitForCalls(DWORD pid, size_t count, DWORD timeoutMs = 10000);

inline WORD Reg(const WRSIM_CALL& c) {
    return static_cast<WORD>(c.args[2] << 8 | c.args[3]);
}
