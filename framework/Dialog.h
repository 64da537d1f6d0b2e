// Dialogs from resource templates, run modally in the framework's own loop so
// that PreTranslateMessage sees every message first.
#pragma once

#include <utility>
#include <vector>

#include "framework/String.h"
#include "framework/Wnd.h"

class CDataExchange {
  public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    // The dialog's control nIDC, or null.
    HWND PrepareCtrl(int nIDC);
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds a member control to the dialog's control on the first exchange (by
// subclassing, which runs PreSubclassWindow); later exchanges leave it alone.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Moves text between a control and a string member. A text the control
// already shows is not set again.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    void EndDialog(int nResult);
    BOOL PreTranslateMessage(MSG* pMsg) override;
    // The control nID, as GetDlgItem finds it, remembered between calls.
    HWND FindControl(int nID);
    // Gives control nID the text, unless it already shows it.
    void SetControlText(int nID, const CString& text);

    UINT m_nIDHelp;

  protected:
    virtual void OnOK();
    virtual void OnCancel();
    void OnPaint() { Default(); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // A window destroyed without EndDialog ends its modal run as well.
    void PostNcDestroy() override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

  private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void EndModalLoop();
    bool m_bModalEnded = false;
    DWORD m_dwModalThreadId = 0;
    int m_nModalResult = -1;
    struct Control {
        int nID;
        HWND hWnd;
        // A single-line edit tells this dialog of every change of its text
        // (EN_CHANGE), so the text the framework set it to can stand for
        // reading it back. Other controls are read.
        bool bRemembers;
        bool bTextKnown;  // strText is what the control shows
        bool bSetting;    // the framework's own set is under way
        CString strText;
    };
    // The entry of control nID, its handle checked; -1 when there is no such control.
    int FindEntry(int nID);
    bool RemembersTextOf(HWND hCtrl) const;
    std::vector<Control> m_controls;
};
