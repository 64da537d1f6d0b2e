// The main window and About box inside this process: the About box, system
// menu, keyboard filter, chart feed, and the fan-speed conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/Globals.h"
#include "ec/EcProtocol.h"
#include "tests/common/EcTest.h"
#include "ui/AboutDlg.h"
#include "ui/OsterbyDlg.h"
#include "ui/resource.h"

namespace {

// Stands in for the program's application object: dialogs opened without a
// parent are owned by its main window.
CWinApp g_testApp;

TEST(FanSpeedTest, CountsConvertAsTheTachometerMeansThem) {
    struct Case {
        UINT count, rpm;
    };
    const Case kCases[] = {{0, 0},       {1, 9999},    {127, 9999}, {128, 16845}, {300, 7187},
                           {1078, 2000}, {16383, 131}, {16384, 0},  {65535, 0}};
    for (const Case& c : kCases) EXPECT_EQ(FanSpeedFromCount(c.count), c.rpm) << c.count;
}

// The main window with its chart open to the tests.
class PeekDlg : public COsterbyDlg {
  public:
    CMultiColorPlotCtrl& Plot() { return m_plot; }
};

// Pointers to members formed through a derived class reach the protected
// members of any chart.
struct PlotPeer : CMultiColorPlotCtrl {
    // The values, newest last, and the number of EC calls logged by then.
    static std::vector<float> Values(CMultiColorPlotCtrl& p, DWORD* pCalls) {
        CRITICAL_SECTION& cs = p.*&PlotPeer::m_csValues;
        ::EnterCriticalSection(&cs);
        const float* pValues = p.*&PlotPeer::m_pValues;
        std::vector<float> values(pValues, pValues + p.*&PlotPeer::m_nPointCount);
        *pCalls = WrSimLogCount();
        ::LeaveCriticalSection(&cs);
        return values;
    }
};

// Runs the main dialog modally on its own thread, as the program does on its one.
class DialogThread {
  public:
    DialogThread() {
        m_thread = std::thread([this] {
            PeekDlg dlg;
            g_testApp.m_pMainWnd = &dlg;
            m_pDlg = &dlg;
            dlg.DoModal();
        });
        WaitFor([this] {
            m_hWnd = ::FindWindowA("#32770", kMainCaption);
            return m_hWnd != nullptr && ::IsWindowVisible(m_hWnd);
        });
    }
    ~DialogThread() {
        if (::IsWindow(m_hWnd)) {
            ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
        }
        m_thread.join();
    }
    HWND Wnd() const { return m_hWnd; }
    CMultiColorPlotCtrl& Plot() { return m_pDlg.load()->Plot(); }

  private:
    std::thread m_thread;
    HWND m_hWnd = nullptr;
    std::atomic<PeekDlg*> m_pDlg{nullptr};
};

// The About box once it is up: found any earlier, it may not have its OK
// button yet, and a key posted to a missing button goes nowhere.
HWND WaitForAboutBox() {
    HWND hAbout = nullptr;
    WaitFor([&] {
        hAbout = ::FindWindowA("#32770", kAboutCaption);
        return hAbout != nullptr && ::IsWindowVisible(hAbout);
    });
    return hAbout != nullptr && ::IsWindowVisible(hAbout) ? hAbout : nullptr;
}

class MainWindowTest : public EcTest {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&icc);
    }
    // Posted after other posted input: once its write shows, all before it ran.
    void Sync(HWND hMain) {
        DWORD before = WrSimLogCount();
        ::PostMessageA(hMain, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED), 0);
        ASSERT_TRUE(WaitFor([&] {
            for (DWORD i = 0; i < WrSimLogCount(); ++i) {
                WRSIM_CALL c;
                if (WrSimLogGet(i, &c) && c.sequence >= before && c.isWrite) return true;
            }
            return false;
        }));
    }
};

TEST_F(MainWindowTest, OpensOnPwm0AndAModalAboutBoxLeavesSamplingRunning) {
    DialogThread dlg;
    ASSERT_NE(dlg.Wnd(), nullptr);
    EXPECT_EQ(::SendMessageA(::GetDlgItem(dlg.Wnd(), IDC_PWM_SLIDER), TBM_GETRANGEMAX, 0, 0), 127);
    EXPECT_EQ(::SendMessageA(::GetDlgItem(dlg.Wnd(), IDC_PWM0), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendMessageA(::GetDlgItem(dlg.Wnd(), IDC_PWM4), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    ::PostMessageA(dlg.Wnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND hAbout = WaitForAboutBox();
    ASSERT_NE(hAbout, nullptr);
    EXPECT_FALSE(::IsWindowEnabled(dlg.Wnd())) << "the About box is modal over the main window";
    DWORD nCalls = WrSimLogCount();
    EXPECT_TRUE(WaitFor([&] { return WrSimLogCount() >= nCalls + 2; }))
        << "sampling stopped while the About box is open";
    ::PostMessageA(hAbout, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(hAbout); }));
    EXPECT_TRUE(::IsWindowEnabled(dlg.Wnd()));
}

TEST_F(MainWindowTest, PathsComeFromTheExecutableLocation) {
    DialogThread dlg;
    EXPECT_EQ(std::wstring(g_strExeDir), Widen(TestBinaryDir()));
    EXPECT_EQ(std::wstring(g_strIniPath), Widen(TestBinaryDir()) + L"\\data\\Led.ini");
}

WORD LoggedRegister(DWORD nIndex) {
    WRSIM_CALL c = {};
    WrSimLogGet(nIndex, &c);
    return Reg(c);
}

TEST_F(MainWindowTest, ChartIsFedTheFanSpeedOnEveryTick) {
    WrSimPoke(kRegTachHighPwm0, 0x04);
    WrSimPoke(kRegTachLowPwm0, 0x36);  // 2000 rpm
    DialogThread dlg;
    ASSERT_NE(dlg.Wnd(), nullptr);

    // Ticks counted from the first fan-speed read: each appended 2000 once,
    // but the last may still wait for the chart's lock.
    auto ticksSinceFanRead = [](DWORD nCalls) {
        int nTicks = 0;
        for (DWORD i = 0; i < nCalls; ++i) {
            WORD wReg = LoggedRegister(i);
            if (wReg == kRegTachHighPwm0 || (nTicks > 0 && wReg != kRegTachLowPwm0)) ++nTicks;
        }
        return nTicks;
    };
    ASSERT_TRUE(WaitFor([&] { return ticksSinceFanRead(WrSimLogCount()) >= 6; }, 15000));
    DWORD nCalls = 0;
    std::vector<float> values = PlotPeer::Values(dlg.Plot(), &nCalls);
    int nTicks = ticksSinceFanRead(nCalls);
    int nFed = 0;
    while (nFed < static_cast<int>(values.size()) && values[values.size() - 1 - nFed] == 2000.0f) {
        ++nFed;
    }
    EXPECT_TRUE(nFed == nTicks || nFed == nTicks - 1) << nFed << " of " << nTicks << " ticks";
    ASSERT_GT(values.size(), static_cast<size_t>(nFed));
    EXPECT_EQ(values[values.size() - 1 - nFed], 0.0f) << "before the first fan-speed read";
}

LONG WINAPI LaterCrashFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

// The window puts back the crash filter it found, unless another has been
// installed over its own since.
TEST_F(MainWindowTest, CrashFilterInstalledLaterOutlivesTheWindow) {
    LPTOP_LEVEL_EXCEPTION_FILTER pfnBefore = ::SetUnhandledExceptionFilter(nullptr);
    ::SetUnhandledExceptionFilter(pfnBefore);
    { DialogThread dlg; }
    EXPECT_EQ(::SetUnhandledExceptionFilter(pfnBefore), pfnBefore);
    {
        DialogThread dlg;
        ::SetUnhandledExceptionFilter(&LaterCrashFilter);
    }
    EXPECT_EQ(::SetUnhandledExceptionFilter(pfnBefore), &LaterCrashFilter);
}

// A dialog ended inside a message sent from another thread leaves its modal
// run although nothing is posted to it: the About box runs no timer.
TEST_F(MainWindowTest, DialogEndedInsideASentMessageCloses) {
    std::thread about([] {
        CAboutDlg dlg;
        dlg.DoModal();
    });
    HWND hAbout = WaitForAboutBox();
    bool bClosed = false;
    if (hAbout != nullptr) {
        ::SendMessageA(hAbout, WM_COMMAND, IDOK, 0);
        bClosed = WaitFor([&] { return !::IsWindow(hAbout); }, 3000);
        if (!bClosed) ::PostMessageA(hAbout, WM_NULL, 0, 0);
    }
    about.join();
    EXPECT_TRUE(bClosed);
}

TEST_F(MainWindowTest, SystemMenuEndsWithSeparatorAndAboutItem) {
    DialogThread dlg;
    HMENU hMenu = ::GetSystemMenu(dlg.Wnd(), FALSE);
    ASSERT_NE(hMenu, nullptr);
    int n = ::GetMenuItemCount(hMenu);
    ASSERT_GE(n, 2);
    MENUITEMINFOA sep = {};
    sep.cbSize = sizeof(sep);
    sep.fMask = MIIM_FTYPE;
    ASSERT_TRUE(::GetMenuItemInfoA(hMenu, n - 2, TRUE, &sep));
    EXPECT_TRUE(sep.fType & MFT_SEPARATOR);
    char text[64] = {};
    EXPECT_GT(::GetMenuStringA(hMenu, n - 1, text, sizeof(text), MF_BYPOSITION), 0);
    EXPECT_STREQ(text, "About Vorlane design...");
    EXPECT_EQ(::GetMenuItemID(hMenu, n - 1), static_cast<UINT>(IDM_ABOUTBOX));
}

TEST_F(MainWindowTest, AboutOpensForIds16To31AndClosesOnEnterOrEscape) {
    DialogThread dlg;
    const UINT kIds[] = {16, 23, 31};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(kIds[i]);
        ::PostMessageA(dlg.Wnd(), WM_SYSCOMMAND, kIds[i], 0);
        HWND hAbout = WaitForAboutBox();
        ASSERT_NE(hAbout, nullptr);
        WPARAM key = i % 2 == 0 ? VK_ESCAPE : VK_RETURN;
        HWND hFocus = ::GetDlgItem(hAbout, IDOK);
        ::PostMessageA(hFocus, WM_KEYDOWN, key, 0);
        EXPECT_TRUE(WaitFor([&] { return !::IsWindow(hAbout); })) << "key " << key;
    }
    // 32 differs from the About id beyond the low four bits.
    ::PostMessageA(dlg.Wnd(), WM_SYSCOMMAND, 32, 0);
    Sync(dlg.Wnd());
    EXPECT_EQ(::FindWindowA("#32770", kAboutCaption), nullptr);
}

TEST_F(MainWindowTest, EnterAndEscapeNeverCloseTheMainWindow) {
    DialogThread dlg;
    const int kTargets[] = {IDC_EXIT, IDC_TEST, IDC_PWM_SLIDER, IDC_PWM0};
    for (int id : kTargets) {
        HWND hCtrl = ::GetDlgItem(dlg.Wnd(), id);
        ::PostMessageA(hCtrl, WM_KEYDOWN, VK_RETURN, 0);
        ::PostMessageA(hCtrl, WM_KEYDOWN, VK_ESCAPE, 0);
    }
    ::PostMessageA(dlg.Wnd(), WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageA(dlg.Wnd(), WM_KEYDOWN, VK_ESCAPE, 0);
    Sync(dlg.Wnd());
    EXPECT_TRUE(::IsWindow(dlg.Wnd()));
    EXPECT_TRUE(::IsWindowVisible(dlg.Wnd()));
}

}  // namespace
