#include "app/OsterbyApp.h"

#include "ui/OsterbyDlg.h"

BEGIN_MESSAGE_MAP(COsterbyApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

COsterbyApp::COsterbyApp() {}

COsterbyApp theApp;

BOOL CheckPrevInstance() {
    // The caption must stay identical to the main dialog template's.
    HWND hWnd = ::FindWindowA("#32770", "Vorlane by Tobrin Quarvisk..");
    if (hWnd == nullptr) return TRUE;
    // Fetched first: an open About box is what the user should get back.
    HWND hPopup = ::GetLastActivePopup(hWnd);
    if (::IsIconic(hWnd)) ::ShowWindow(hWnd, SW_RESTORE);
    ::SetForegroundWindow(hPopup);
    return FALSE;
}

BOOL COsterbyApp::InitInstance() {
    AfxEnableControlContainer();
    if (!CheckPrevInstance()) return FALSE;

    COsterbyDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    return FALSE;
}
