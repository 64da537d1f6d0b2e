// The CPU benchmark's yardstick for Vorlane.exe, the fair floor: a dialog of
// our framework with the main window's frame, a static of the chart's size
// and shape, four value fields, and the same two timers the program runs, a
// 250 ms one on the dialog and a 50 ms one on the static, which invalidates
// itself. The static copies one bitmap of its size, prepared once, to its
// window on every paint
// (the least any chart refreshed 20 times a second costs), and on every tick
// of the dialog's timer one field, in turn, takes a new text, as the
// program's fields do on an EC whose every read answers a new value: the
// least any window showing those values costs. Such a window must also read
// them: each tick reads the EC as the program does, through the same
// library, one register a tick and two on the fan's, though the texts stay
// the floor's own so that a field changes on every tick whatever the EC
// answers. Nothing is drawn.
// Built once for each part it plays (BENCH_IDLE_PART), so that each runs
// under a path of its own: the fair floor, and the control, a second fair
// floor beside it.
#include <cstdio>

#include "bench/bench_idle.h"
#include "chart/MultiColorPlotCtrl.h"
#include "ec/EcAccess.h"
#include "framework/Afx.h"

namespace {

const char* const kCaptions[] = {"Vorlane benchmark fair floor", "Vorlane benchmark control"};

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
        PrepareFrame();
        // The chart's shape: a window showing it has its rounded corners.
        ::SetWindowRgn(
            m_hWnd,
            ::CreateRoundRectRgn(0, 0, m_size.cx, m_size.cy, CMultiColorPlotCtrl::kCornerEllipse,
                                 CMultiColorPlotCtrl::kCornerEllipse),
            TRUE);
        SetTimer(kStaticTimer, kStaticPeriodMs, nullptr);
        CStatic::PreSubclassWindow();
    }
    void OnTimer(UINT_PTR) {
        Invalidate(FALSE);
        Default();
    }
    // Begins and ends the paint, which validates the window; with a frame it
    // copies the frame in between.
    void OnPaint() {
        CPaintDC dc(this);
        if (m_hFrameDC != nullptr) {
            ::BitBlt(dc.m_hDC, 0, 0, m_size.cx, m_size.cy, m_hFrameDC, 0, 0, SRCCOPY);
        }
    }

    // A frame in the screen's format, like the chart's off-screen surface,
    // with a grid drawn once so that the copy moves real pixels.
    void PrepareFrame() {
        RECT rc;
        ::GetClientRect(m_hWnd, &rc);
        m_size = {rc.right, rc.bottom};
        HDC hScreen = ::GetDC(nullptr);
        m_hFrameDC = ::CreateCompatibleDC(hScreen);
        HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, m_size.cx, m_size.cy);
        ::ReleaseDC(nullptr, hScreen);
        m_hOldBitmap = static_cast<HBITMAP>(::SelectObject(m_hFrameDC, hBitmap));
        ::FillRect(m_hFrameDC, &rc, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        HPEN hPen = ::CreatePen(PS_SOLID, 1, RGB(0, 128, 0));
        HGDIOBJ hOld = ::SelectObject(m_hFrameDC, hPen);
        for (int x = 0; x < m_size.cx; x += 15) {
            ::MoveToEx(m_hFrameDC, x, 0, nullptr);
            ::LineTo(m_hFrameDC, x, m_size.cy);
        }
        ::DeleteObject(::SelectObject(m_hFrameDC, hOld));
    }

    HDC m_hFrameDC = nullptr;
    HBITMAP m_hOldBitmap = nullptr;
    SIZE m_size = {};
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
        DDX_Control(pDX, IDC_CHART, m_static);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ::SetWindowTextA(m_hWnd, kCaptions[BENCH_IDLE_PART]);
        // Found once: under Wine each GetDlgItem asks the server.
        const int kFields[] = {IDC_CPU_TEMP, IDC_ENV_TEMP, IDC_FAN_SPEED, IDC_PWM_DUTY};
        for (int i = 0; i < 4; ++i) m_hFields[i] = ::GetDlgItem(m_hWnd, kFields[i]);
        SetTimer(kDialogTimer, kDialogPeriodMs, nullptr);
        return TRUE;
    }
    // A text that differs from the field's last one, in the shape of the
    // program's values (temperatures, a fan speed, a duty).
    void OnTimer(UINT_PTR) {
        const int kBase[] = {45, 30, 3000, 60};
        const int nField = m_nTick % 4;
        switch (nField) {
            case 0:
                ReadEcRegister(kRegCpuTemp);
                break;
            case 1:
                ReadEcRegister(kRegEnvTemp);
                break;
            case 2:
                ReadEcRegister(kRegTachHighPwm0);
                ReadEcRegister(kRegTachLowPwm0);
                break;
            default:
                ReadEcRegister(kRegDutyPwm0);
                break;
        }
        char szText[16];
        std::snprintf(szText, sizeof(szText), "%d", kBase[nField] + (m_nTick / 4) % 2);
        ::SetWindowTextA(m_hFields[nField], szText);
        ++m_nTick;
        Default();
    }

    CIdleStatic m_static;
    HWND m_hFields[4] = {};
    int m_nTick = 0;

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
