// The application object and the entry point that drives it.
#pragma once

#include "framework/Wnd.h"

#define ID_HELP 0xE146

class CWinThread : public CCmdTarget {
  public:
    CWnd* m_pMainWnd = nullptr;
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    virtual int Run();
};

class CWinApp : public CWinThread {
  public:
    explicit CWinApp(const char* pszAppName = nullptr);
    ~CWinApp() override;

    const char* m_pszAppName;
    DWORD m_dwRestartManagerSupportFlags = 0;

    void OnHelp() {}

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
// No OLE controls are hosted; kept so start-up reads as the program expects.
inline void AfxEnableControlContainer() {}
int AfxWinMain(HINSTANCE hInstance);
