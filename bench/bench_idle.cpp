// The CPU baseline for Vorlane.exe: a dialog of our framework with the same
// two timers the program runs, a 250 ms one on the dialog and a 50 ms one on
// a child static that invalidates itself, and nothing read, drawn or shown.
// What it costs is what the timers and Wine's paint cycle cost by themselves.
#include "bench/bench_idle.h"
#include "framework/Afx.h"

namespace {

const UINT_PTR kDialogTimer = 1;
const UINT kDialogPeriodMs = 250;
const UINT_PTR kStaticTimer = 1;
const UINT kStaticPeriodMs = 50;

class CIdleStatic : public CStatic {
  protected:
    void PreSubclassWindow() override {
        SetTimer(kStaticTimer, kStaticPeriodMs, nullptr);
        CStatic::PreSubclassWindow();
    }
    void OnTimer(UINT_PTR) {
        Invalidate(FALSE);
        Default();
    }
    // Begins and ends the paint, which validates the window, and draws nothing.
    void OnPaint() { CPaintDC dc(this); }
    BOOL OnEraseBkgnd(CDC*) { return TRUE; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CIdleStatic, CStatic)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_TIMER()
END_MESSAGE_MAP()

class CIdleDlg : public CDialog {
  public:
    CIdleDlg() : CDialog(IDD_BENCH_IDLE) {}

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_BENCH_STATIC, m_static);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        SetTimer(kDialogTimer, kDialogPeriodMs, nullptr);
        return TRUE;
    }
    void OnTimer(UINT_PTR) { Default(); }

    CIdleStatic m_static;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CIdleDlg, CDialog)
ON_WM_TIMER()
END_MESSAGE_MAP()

class CIdleApp : public CWinApp {
  public:
    BOOL InitInstance() override {
        CIdleDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        return FALSE;
    }
};

CIdleApp theApp;

}  // namespace
