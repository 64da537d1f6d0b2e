// The main window and About box inside this process: templates, system menu,
// keyboard filter, and the fan-speed conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "app/Globals.h"
#include "tests/e2e/Harness.h"
#include "ui/AboutDlg.h"
#include "ec/EcProtocol.h"
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
    static std::string Settings(CMultiColorPlotCtrl& p) {
        char sz[400];
        snprintf(sz, sizeof(sz),
                 "'%s' '%s' %g to %g%s, spacing %d (%d points), grid x %d, caption %d, style %d",
                 p.*&PlotPeer::m_szTitle, p.*&PlotPeer::m_szUnit, p.*&PlotPeer::m_fRangeMin,
                 p.*&PlotPeer::m_fRangeMax, p.*&PlotPeer::m_bFixedRange ? " fixed" : "",
                 p.*&PlotPeer::m_nPointSpacing, p.*&PlotPeer::m_nPointCount,
                 p.*&PlotPeer::m_nGridStepX, p.*&PlotPeer::m_nCaptionMode,
                 p.*&PlotPeer::m_nPlotStyle);
        return sz;
    }
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
        hAbout = ::FindWindowA("#32770", "About Vorlane");
        return hAbout != nullptr && ::IsWindowVisible(hAbout);
    });
    return hAbout != nullptr && ::IsWindowVisible(hAbout) ? hAbout : nullptr;
}

class MainWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&icc);
        UseOwnSimulatedEc();
    }
    void SetUp() override {
        WrSimReset(4);
        WrSimLogClear();
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

struct ControlSpec {
    int id;
    const char* cls;
    const char* text;
    DWORD style;
    DWORD exStyle;
};

void ExpectControls(HWND hDlg, const ControlSpec* specs, size_t count) {
    HWND hChild = ::GetWindow(hDlg, GW_CHILD);
    for (size_t i = 0; i < count; ++i, hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        const ControlSpec& s = specs[i];
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        ASSERT_NE(hChild, nullptr);
        EXPECT_EQ(static_cast<int>(static_cast<short>(::GetDlgCtrlID(hChild))), s.id);
        char cls[64] = {}, text[64] = {};
        ::GetClassNameA(hChild, cls, sizeof(cls));
        EXPECT_STRCASEEQ(cls, s.cls);
        if (s.text != nullptr) {
            ::GetWindowTextA(hChild, text, sizeof(text));
            EXPECT_STREQ(text, s.text);
        }
        DWORD style = static_cast<DWORD>(::GetWindowLongA(hChild, GWL_STYLE));
        DWORD exStyle = static_cast<DWORD>(::GetWindowLongA(hChild, GWL_EXSTYLE));
        DWORD wanted = s.style;
        // The dialog manager may trade a control's WS_BORDER for a sunken client edge.
        if (exStyle & WS_EX_CLIENTEDGE) wanted &= ~WS_BORDER;
        EXPECT_EQ(style & wanted, wanted) << std::hex << style;
        EXPECT_EQ(exStyle & s.exStyle, s.exStyle) << std::hex << exStyle;
    }
    EXPECT_EQ(hChild, nullptr) << "more controls than the template lists";
}

TEST_F(MainWindowTest, TemplatesHoldEveryControlInOrder) {
    DialogThread dlg;
    ASSERT_NE(dlg.Wnd(), nullptr);
    const DWORD kButton = BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | WS_GROUP | WS_TABSTOP;
    const DWORD kLabel = SS_CENTER | SS_CENTERIMAGE | WS_GROUP;
    const DWORD kLabelEx = WS_EX_STATICEDGE | WS_EX_RIGHT;
    const DWORD kEdit = ES_CENTER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_DISABLED;
    // The chart is drawn by the program; its style carries SS_NOTIFY from then on.
    const ControlSpec kMain[] = {
        {IDC_EXIT, "Button", "Exit", kButton, 0},
        {-1, "Static", nullptr, SS_BITMAP, WS_EX_DLGMODALFRAME},
        {IDC_CHART, "Static", "Static", SS_LEFT | WS_BORDER | WS_GROUP | SS_NOTIFY, 0},
        {-1, "Static", "Cpu Temp(Red):", kLabel, kLabelEx},
        {-1, "Static", "PWM DC(Green):", kLabel, kLabelEx},
        {IDC_CPU_TEMP, "Edit", "", kEdit | ES_READONLY, WS_EX_RIGHT},
        {IDC_ENV_TEMP, "Edit", "", kEdit | ES_READONLY, WS_EX_RIGHT},
        {IDC_STOP, "Button", "Stop", kButton, 0},
        {IDC_TEST, "Button", "Test", kButton, 0},
        {IDC_PWM_SLIDER, "msctls_trackbar32", nullptr,
         TBS_HORZ | TBS_NOTICKS | TBS_AUTOTICKS | TBS_BOTH | WS_TABSTOP, 0},
        {-1, "Static", "Fan Speed(Yellow):", kLabel, kLabelEx},
        {IDC_FAN_SPEED, "Edit", "", kEdit | ES_READONLY, WS_EX_RIGHT},
        {IDC_PWM_DUTY, "Edit", "", kEdit, WS_EX_RIGHT},
        {-1, "Static", "Env Temp(white):", kLabel, kLabelEx},
        {-1, "Button", "manual", BS_GROUPBOX, 0},
        {IDC_PWM0, "Button", "PWM0", BS_AUTORADIOBUTTON | WS_GROUP, 0},
        {IDC_PWM4, "Button", "PWM4", BS_AUTORADIOBUTTON, 0},
    };
    ExpectControls(dlg.Wnd(), kMain, sizeof(kMain) / sizeof(kMain[0]));
    EXPECT_EQ(::GetWindowLongA(::GetDlgItem(dlg.Wnd(), IDC_PWM_DUTY), GWL_STYLE) & ES_READONLY, 0);
    DWORD style = static_cast<DWORD>(::GetWindowLongA(dlg.Wnd(), GWL_STYLE));
    DWORD exStyle = static_cast<DWORD>(::GetWindowLongA(dlg.Wnd(), GWL_EXSTYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
    EXPECT_EQ(exStyle & (WS_EX_APPWINDOW | WS_EX_CLIENTEDGE), WS_EX_APPWINDOW | WS_EX_CLIENTEDGE);
    EXPECT_EQ(::SendMessageA(::GetDlgItem(dlg.Wnd(), IDC_PWM_SLIDER), TBM_GETRANGEMAX, 0, 0), 127);
    EXPECT_EQ(::SendMessageA(::GetDlgItem(dlg.Wnd(), IDC_PWM0), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendMessageA(::GetDlgItem(dlg.Wnd(), IDC_PWM4), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    ::PostMessageA(dlg.Wnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND hAbout = WaitForAboutBox();
    ASSERT_NE(hAbout, nullptr);
    const ControlSpec kAbout[] = {
        {-1, "Static", "Vorlane Version 1.0", SS_LEFT | SS_NOPREFIX | WS_GROUP, 0},
        {-1, "Static", nullptr, SS_LEFT | WS_GROUP, 0},
        {IDOK, "Button", "OK", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0},
        {-1, "Static", nullptr, SS_LEFT | WS_GROUP, 0},
    };
    ExpectControls(hAbout, kAbout, sizeof(kAbout) / sizeof(kAbout[0]));
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
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe);
    dir = dir.substr(0, dir.rfind(L'\\'));
    EXPECT_EQ(std::wstring(g_strExeDir), dir);
    EXPECT_EQ(std::wstring(g_strIniPath), dir + L"\\data\\Led.ini");
}

WORD LoggedRegister(DWORD nIndex) {
    WRSIM_CALL c = {};
    WrSimLogGet(nIndex, &c);
    return Reg(c);
}

TEST_F(MainWindowTest, ChartIsSetUpForTheFanSpeedAndFedOnEveryTick) {
    WrSimFreeze(TRUE);
    WrSimPoke(0x1821, 0x04);
    WrSimPoke(0x1820, 0x36);  // 2000 rpm
    DialogThread dlg;
    ASSERT_NE(dlg.Wnd(), nullptr);
    RECT rc;
    ::GetClientRect(::GetDlgItem(dlg.Wnd(), IDC_CHART), &rc);
    char szExpected[200];
    snprintf(szExpected, sizeof(szExpected),
             "'Fan Speed' ' RPM ' 0 to 7000 fixed, spacing 4 (%d points), grid x 15, caption 4, "
             "style 1",
             static_cast<int>(rc.right / 4));
    EXPECT_EQ(PlotPeer::Settings(dlg.Plot()), szExpected);

    // Ticks counted from the first fan-speed read: each appended 2000 once,
    // but the last may still wait for the chart's lock.
    auto ticksSinceFanRead = [](DWORD nCalls) {
        int nTicks = 0;
        for (DWORD i = 0; i < nCalls; ++i) {
            WORD wReg = LoggedRegister(i);
            if (wReg == 0x1821 || (nTicks > 0 && wReg != 0x1820)) ++nTicks;
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
    EXPECT_EQ(::FindWindowA("#32770", "About Vorlane"), nullptr);
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

// The data exchange remembers control handles; a control that was destroyed
// and made again under the same id must get the text, not the dead handle.
class TextExchangeDlg : public CDialog {
  public:
    TextExchangeDlg() : CDialog(0) {}
    CString m_strText;

  protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, kFieldId, m_strText); }

  public:
    static const int kFieldId = 1001;
};

TEST(DataExchangeTest, TextReachesAControlMadeAgainUnderTheSameId) {
    HWND hHost = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                   nullptr, nullptr);
    auto makeField = [&] {
        return ::CreateWindowExA(0, "EDIT", "", WS_CHILD, 0, 0, 80, 20, hHost,
                                 reinterpret_cast<HMENU>(TextExchangeDlg::kFieldId), nullptr,
                                 nullptr);
    };
    TextExchangeDlg dlg;
    ASSERT_TRUE(dlg.Attach(hHost));
    HWND hFirst = makeField();
    dlg.m_strText = "first";
    dlg.UpdateData(FALSE);
    char text[32] = "";
    ::GetWindowTextA(hFirst, text, sizeof(text));
    EXPECT_STREQ(text, "first");

    ::DestroyWindow(hFirst);
    HWND hSecond = makeField();
    dlg.m_strText = "second";
    dlg.UpdateData(FALSE);
    ::GetWindowTextA(hSecond, text, sizeof(text));
    EXPECT_STREQ(text, "second");

    // A second field of another dialog under the same id is not this dialog's.
    HWND hOtherHost = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                        nullptr, nullptr);
    ::SetParent(hSecond, hOtherHost);
    HWND hThird = makeField();
    dlg.m_strText = "third";
    dlg.UpdateData(FALSE);
    ::GetWindowTextA(hThird, text, sizeof(text));
    EXPECT_STREQ(text, "third");
    ::GetWindowTextA(hSecond, text, sizeof(text));
    EXPECT_STREQ(text, "second");

    // The locale's ordering ignores the soft hyphen: these texts compare equal there.
    ::SetWindowTextA(hThird, "1\xAD");
    dlg.m_strText = "\xAD\x31";
    dlg.UpdateData(FALSE);
    ::GetWindowTextA(hThird, text, sizeof(text));
    EXPECT_STREQ(text, "\xAD\x31");

    dlg.Detach();
    ::DestroyWindow(hOtherHost);
    ::DestroyWindow(hHost);
}

// In Shift-JIS 0x95 0x5C is one character whose trail byte is a backslash.
TEST(StringTest, ReverseFindSkipsTrailBytes) {
    CString strPath("C:\\X\\\x95\x5C.exe");
    EXPECT_EQ(strPath.ReverseFind('\\', 932), 4);
    EXPECT_EQ(strPath.ReverseFind('\\', 1252), 6);
    EXPECT_EQ(strPath.ReverseFind('/', 932), -1);
}

}  // namespace
