#include "framework/Dialog.h"

#include <cstring>

#include "framework/App.h"

void AfxDeleteTempWndMap();

HWND CDataExchange::PrepareCtrl(int nIDC) {
    if (CDialog* pDlg = dynamic_cast<CDialog*>(m_pDlgWnd)) return pDlg->FindControl(nIDC);
    return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd != nullptr) return;
    HWND hCtrl = pDX->PrepareCtrl(nIDC);
    if (hCtrl != nullptr) rControl.SubclassWindow(hCtrl);
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    HWND hCtrl = pDX->PrepareCtrl(nIDC);
    if (hCtrl == nullptr) return;
    if (pDX->m_bSaveAndValidate) {
        int nLen = ::GetWindowTextLengthA(hCtrl);
        std::string text(static_cast<size_t>(nLen) + 1, '\0');
        ::GetWindowTextA(hCtrl, &text[0], nLen + 1);
        text.resize(static_cast<size_t>(::lstrlenA(text.c_str())));
        value = CString(text);
        return;
    }
    // Rewriting an unchanged text would only make the control repaint.
    char current[256];
    int nLen = ::GetWindowTextA(hCtrl, current, sizeof(current));
    // Compared byte for byte: a locale's ordering can call two different texts equal.
    if (nLen == value.GetLength() && nLen < static_cast<int>(sizeof(current)) - 1 &&
        memcmp(current, value.GetString(), static_cast<size_t>(nLen)) == 0) {
        return;
    }
    ::SetWindowTextA(hCtrl, value);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

// Wine answers GetDlgItem through its server, about 50 us a call, and the
// data exchange runs on every sampling tick. A remembered handle is only
// checked, which stays within the process.
HWND CDialog::FindControl(int nID) {
    for (auto& control : m_controls) {
        if (control.first != nID) continue;
        HWND hCtrl = control.second;
        if (!::IsWindow(hCtrl) || ::GetParent(hCtrl) != m_hWnd || ::GetDlgCtrlID(hCtrl) != nID) {
            hCtrl = control.second = ::GetDlgItem(m_hWnd, nID);
        }
        return hCtrl;
    }
    HWND hCtrl = ::GetDlgItem(m_hWnd, nID);
    if (hCtrl != nullptr) m_controls.emplace_back(nID, hCtrl);
    return hCtrl;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    EndModalLoop();
}

void CDialog::PostNcDestroy() {
    EndModalLoop();
}

void CDialog::EndModalLoop() {
    m_bModalEnded = true;
    // A handler of a message sent from another thread or process (a session
    // end, say) runs inside GetMessage, which would otherwise go on waiting
    // for a posted message that may never come.
    if (m_dwModalThreadId != 0) ::PostThreadMessageA(m_dwModalThreadId, WM_NULL, 0, 0);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    if (m_hWnd == nullptr) return FALSE;
    if (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd)) return FALSE;
    return ::IsDialogMessageA(m_hWnd, pMsg);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    // From here on every message goes through the framework's window procedure;
    // the dialog manager's own procedure becomes its default processing.
    CDialog* pDlg = reinterpret_cast<CDialog*>(lParam);
    if (!pDlg->Attach(hWnd)) return FALSE;
    pDlg->m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    return pDlg->OnInitDialog();
}

INT_PTR CDialog::DoModal() {
    HWND hOwner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    if (hOwner == nullptr) {
        CWinApp* pApp = AfxGetApp();
        if (pApp != nullptr && pApp->m_pMainWnd != nullptr && pApp->m_pMainWnd != this) {
            hOwner = pApp->m_pMainWnd->m_hWnd;
        }
    }
    BOOL bOwnerDisabled = FALSE;
    if (hOwner != nullptr && ::IsWindowEnabled(hOwner)) {
        ::EnableWindow(hOwner, FALSE);
        bOwnerDisabled = TRUE;
    }

    m_bModalEnded = false;
    m_dwModalThreadId = ::GetCurrentThreadId();
    m_controls.clear();
    m_nModalResult = -1;
    HWND hDlg = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nIDTemplate),
                                     hOwner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (hDlg != nullptr) {
        if (!m_bModalEnded && !::IsWindowVisible(hDlg)) ::ShowWindow(hDlg, SW_SHOWNORMAL);
        MSG msg;
        while (!m_bModalEnded) {
            AfxDeleteTempWndMap();
            BOOL bRet = ::GetMessageA(&msg, nullptr, 0, 0);
            if (bRet == 0 || bRet == -1) {
                // Leave WM_QUIT for an outer loop, as the system's modal loops do.
                if (bRet == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            if (!PreTranslateMessage(&msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
    }
    m_dwModalThreadId = 0;
    // The owner is enabled before the dialog goes, so that activation returns to it.
    if (bOwnerDisabled) ::EnableWindow(hOwner, TRUE);
    // Still bound means not yet destroyed: a handle already gone may name
    // another window by now.
    if (hDlg != nullptr && m_hWnd == hDlg) {
        if (hOwner != nullptr && ::GetActiveWindow() == hDlg) ::SetActiveWindow(hOwner);
        ::DestroyWindow(hDlg);
    }
    AfxDeleteTempWndMap();
    return m_nModalResult;
}
