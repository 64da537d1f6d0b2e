// The CPU baseline for Vorlane.exe: a dialog of our framework with the same
// two timers the program runs, a 250 ms one on the dialog and a 50 ms one on
// a child static that invalidates itself, and nothing read, drawn or shown.
// What it costs is what the timers and Wine's paint cycle cost by themselves.
// Started with "/floor", the child instead copies one bitmap of the chart's
// size, prepared once, to its window on every paint: the least any chart
// refreshed 20 times a second costs; "/control" only renames it, for a second
// floor running beside the first.
#include <cstring>

#include "bench/bench_idle.h"
#include "framework/Afx.h"

namespace {

const int kChartWidth = 458;
const int kChartHeight = 161;

bool FloorMode() {
    return strstr(::GetCommandLineA(), "/floor") != nullptr;
}

const UINT_PTR kDialogTimer = 1;
const UINT kDialogPeriodMs = 250;
const UINT_PTR kStaticTimer = 1;
const UINT kStaticPeriodMs = 50;

class CIdleStatic : public CStatic {
  public:
    ~CIdleStatic() {
        if (m_hFrameDC != nullptr) {
            ::DeleteObject(::SelectObject(m_hFrameDC, m_hOldBitmap));
            ::DeleteDC(m_hFrameDC);
        }
    }

  protected:
    void PreSubclassWindow() override {
        if (FloorMode()) PrepareFrame();
        SetTimer(kStaticTimer, kStaticPeriodMs, nullptr);
        CStatic::PreSubclassWindow();
    }
    void OnTimer(UINT_PTR) {
        Invalidate(FALSE);
        Default();
    }
    // Begins and ends the paint, which validates the window; in floor mode it
    // copies the prepared frame in between.
    void OnPaint() {
        CPaintDC dc(this);
        if (m_hFrameDC != nullptr) {
            ::BitBlt(dc.m_hDC, 0, 0, kChartWidth, kChartHeight, m_hFrameDC, 0, 0, SRCCOPY);
        }
    }

    // A frame in the screen's format, like the chart's off-screen surface,
    // with a grid drawn once so that the copy moves real pixels.
    void PrepareFrame() {
        HDC hScreen = ::GetDC(nullptr);
        m_hFrameDC = ::CreateCompatibleDC(hScreen);
        HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, kChartWidth, kChartHeight);
        ::ReleaseDC(nullptr, hScreen);
        m_hOldBitmap = static_cast<HBITMAP>(::SelectObject(m_hFrameDC, hBitmap));
        RECT rc = {0, 0, kChartWidth, kChartHeight};
        ::FillRect(m_hFrameDC, &rc, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        HPEN hPen = ::CreatePen(PS_SOLID, 1, RGB(0, 128, 0));
        HGDIOBJ hOld = ::SelectObject(m_hFrameDC, hPen);
        for (int x = 0; x < kChartWidth; x += 15) {
            ::MoveToEx(m_hFrameDC, x, 0, nullptr);
            ::LineTo(m_hFrameDC, x, kChartHeight);
        }
        ::DeleteObject(::SelectObject(m_hFrameDC, hOld));
    }

    HDC m_hFrameDC = nullptr;
    HBITMAP m_hOldBitmap = nullptr;
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
        if (strstr(::GetCommandLineA(), "/control") != nullptr) {
            ::SetWindowTextA(m_hWnd, "Vorlane benchmark control");
        } else if (FloorMode()) {
            ::SetWindowTextA(m_hWnd, "Vorlane benchmark floor");
        }
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
