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

namespace {

// Compared byte for byte: a locale's ordering can call two different texts equal.
bool SameText(const char* psz, int nLen, const CString& text) {
    return nLen == text.GetLength() &&
           memcmp(psz, text.GetString(), static_cast<size_t>(nLen)) == 0;
}

bool ShowsText(HWND hCtrl, const CString& text) {
    char current[256];
    int nLen = ::GetWindowTextA(hCtrl, current, sizeof(current));
    return nLen < static_cast<int>(sizeof(current)) - 1 && SameText(current, nLen, text);
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    if (!pDX->m_bSaveAndValidate) {
        if (CDialog* pDlg = dynamic_cast<CDialog*>(pDX->m_pDlgWnd)) {
            pDlg->SetControlText(nIDC, value);
            return;
        }
    }
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
    if (!ShowsText(hCtrl, value)) ::SetWindowTextA(hCtrl, value);
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
    const int n = FindEntry(nID);
    return n < 0 ? nullptr : m_controls[n].hWnd;
}

int CDialog::FindEntry(int nID) {
    for (size_t n = 0; n < m_controls.size(); ++n) {
        Control& control = m_controls[n];
        if (control.nID != nID) continue;
        HWND hCtrl = control.hWnd;
        if (hCtrl == nullptr || !::IsWindow(hCtrl) || ::GetParent(hCtrl) != m_hWnd ||
            ::GetDlgCtrlID(hCtrl) != nID) {
            // Another window now, or none: nothing is known of its text.
            hCtrl = ::GetDlgItem(m_hWnd, nID);
            control = {nID, hCtrl, RemembersTextOf(hCtrl), false, false, CString()};
        }
        return hCtrl != nullptr ? static_cast<int>(n) : -1;
    }
    HWND hCtrl = ::GetDlgItem(m_hWnd, nID);
    if (hCtrl == nullptr) return -1;
    m_controls.push_back({nID, hCtrl, RemembersTextOf(hCtrl), false, false, CString()});
    return static_cast<int>(m_controls.size() - 1);
}

// Only while its notifications reach this dialog's own procedure, which
// forgets the text on each change but the framework's own.
bool CDialog::RemembersTextOf(HWND hCtrl) const {
    char szClass[8] = {};
    return hCtrl != nullptr &&
           ::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC) ==
               reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc) &&
           ::GetClassNameA(hCtrl, szClass, sizeof(szClass)) == 4 &&
           lstrcmpiA(szClass, "Edit") == 0 &&
           // A multi-line edit sends no EN_CHANGE for a text set from outside.
           (::GetWindowLongA(hCtrl, GWL_STYLE) & ES_MULTILINE) == 0;
}

// On each tick the program gives all its fields their texts, of which at most
// one has changed. Rewriting an unchanged text would only make the control
// repaint; the text the framework set answers for the control, without a
// message to read it back, as long as nothing else has set it since.
void CDialog::SetControlText(int nID, const CString& text) {
    const int n = FindEntry(nID);
    if (n < 0) return;
    // By index: the control's notifications may look up controls and add entries.
    HWND hCtrl = m_controls[n].hWnd;
    if (m_controls[n].bTextKnown) {
        const CString& strKnown = m_controls[n].strText;
        if (SameText(strKnown, strKnown.GetLength(), text)) return;
    } else if (ShowsText(hCtrl, text)) {
        m_controls[n].bTextKnown = m_controls[n].bRemembers;
        m_controls[n].strText = text;
        return;
    }
    m_controls[n].bSetting = true;
    const BOOL bSet = ::SetWindowTextA(hCtrl, text);
    m_controls[n].bSetting = false;
    m_controls[n].bTextKnown = bSet && m_controls[n].bRemembers && m_controls[n].hWnd == hCtrl;
    m_controls[n].strText = text;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && lParam != 0) {
        for (Control& control : m_controls) {
            if (control.hWnd == reinterpret_cast<HWND>(lParam) && !control.bSetting) {
                control.bTextKnown = false;
            }
        }
    }
    return CWnd::WindowProc(message, wParam, lParam);
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
