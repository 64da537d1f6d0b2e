// The framework's wrappers: GDI objects and their temporary wrappers, window
// wrappers across threads, data exchange with controls, and strings.
#include <gtest/gtest.h>

#include <string>

#include "chart/MemDC.h"
#include "framework/Afx.h"
#include "framework/StringW.h"
#include "tests/common/GdiTarget.h"

// The framework's idle-point clean-up of temporary window wrappers.
void AfxDeleteTempWndMap();

namespace {

const COLORREF kInk = RGB(255, 0, 0);

int BitsOf(HGDIOBJ hBitmap) {
    BITMAP bm = {};
    ::GetObjectA(hBitmap, sizeof(bm), &bm);
    return bm.bmBitsPixel;
}

TEST(GdiCounter, FreeSlotCountCatchesAFewLeakedObjects) {
    int nBefore = FreeGdiSlots();
    HBRUSH hBrush = ::CreateSolidBrush(kInk);
    HPEN hPen = ::CreatePen(PS_SOLID, 1, kInk);
    HDC hDC = ::CreateCompatibleDC(nullptr);
    EXPECT_EQ(nBefore - 3, FreeGdiSlots());
    ::DeleteObject(hBrush);
    ::DeleteObject(hPen);
    ::DeleteDC(hDC);
    EXPECT_EQ(nBefore, FreeGdiSlots());
}

TEST(GdiWrappers, SelectionHandsOutReusedWrappersAndLeavesNothingBehind) {
    DibTarget target(8, 8);
    CDC* pDC = target.dc();
    // The context's stock pen gets its wrapper at its first selection in the
    // process and keeps it: stock objects never die.
    CPen::FromHandle(static_cast<HPEN>(::GetStockObject(BLACK_PEN)));
    int nFree = FreeGdiSlots();
    size_t nTemps = CGdiObject::GetTemporaryCount();
    for (int i = 0; i < 500; ++i) {
        CPen pen;
        pen.CreatePen(PS_SOLID, 1, kInk);
        pen.Attach(::CreatePen(PS_SOLID, 2, kInk));  // releases the first pen
        CPen* pOld = pDC->SelectObject(&pen);
        EXPECT_EQ(pen.m_hObject, pDC->SelectObject(pOld)->m_hObject);
        EXPECT_EQ(pOld, CPen::FromHandle(static_cast<HPEN>(pOld->m_hObject)));
    }
    EXPECT_EQ(nFree, FreeGdiSlots());
    EXPECT_GE(nTemps, CGdiObject::GetTemporaryCount());
}

// Off-screen surfaces on a window of their own, each with a pen selected in
// and out: every table and recycler of the wrappers is used on every turn.
DWORD WINAPI DrawSurfacesOnWindow(LPVOID pWnd) {
    HWND hWnd = static_cast<HWND>(pWnd);
    CDC windowDC;
    windowDC.Attach(::GetDC(hWnd));
    RECT rcArea = {0, 0, 40, 30};
    for (int i = 0; i < 5000; ++i) {
        CMemDC surface(&windowDC, &rcArea);
        CPen pen;
        pen.CreatePen(PS_SOLID, 1, kInk);
        surface.SelectObject(surface.SelectObject(&pen));
    }
    ::ReleaseDC(hWnd, windowDC.Detach());
    return 0;
}

bool DrawOnTwoThreadsAtOnce(HWND (&hWnds)[2]) {
    HANDLE hThreads[2];
    for (int i = 0; i < 2; ++i) {
        hThreads[i] = ::CreateThread(nullptr, 0, &DrawSurfacesOnWindow, hWnds[i], 0, nullptr);
    }
    bool bDone = ::WaitForMultipleObjects(2, hThreads, TRUE, 60000) == WAIT_OBJECT_0;
    for (HANDLE hThread : hThreads) ::CloseHandle(hThread);
    return bDone;
}

TEST(GdiWrappers, TwoThreadsDrawingAtOnceKeepTheTablesWhole) {
    HWND hWnds[2];
    for (HWND& hWnd : hWnds) {
        hWnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 40, 30, nullptr, nullptr, nullptr,
                                 nullptr);
    }
    // The first run leaves the recyclers' spares, the stock objects' wrappers
    // and the system's cache of window contexts for two threads at once.
    ASSERT_TRUE(DrawOnTwoThreadsAtOnce(hWnds));
    int nFree = FreeGdiSlots();
    size_t nTemps = CGdiObject::GetTemporaryCount();
    ASSERT_TRUE(DrawOnTwoThreadsAtOnce(hWnds));
    EXPECT_EQ(nFree, FreeGdiSlots());
    // Wrappers of handles that other tests deleted directly may be swept out.
    EXPECT_GE(nTemps, CGdiObject::GetTemporaryCount());
    for (HWND hWnd : hWnds) ::DestroyWindow(hWnd);
}

// Asks for a temporary wrapper, then reaches this thread's idle point.
DWORD WINAPI WrapWindowAndIdle(LPVOID hWnd) {
    CWnd* pTheirs = CWnd::FromHandle(static_cast<HWND>(hWnd));
    AfxDeleteTempWndMap();
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(pTheirs));
}

TEST(WndWrappers, AnotherThreadsIdlePointLeavesThisThreadsTemporaryWrapper) {
    HWND hWnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr,
                                  nullptr);
    CWnd* pMine = CWnd::FromHandle(hWnd);
    DWORD dwTheirs = RunOnOtherThread(&WrapWindowAndIdle, hWnd);
    ASSERT_NE(reinterpret_cast<UINT_PTR>(pMine), dwTheirs);
    EXPECT_EQ(pMine, CWnd::FromHandle(hWnd));
    EXPECT_EQ(hWnd, pMine->m_hWnd);
    ::DestroyWindow(hWnd);
}

TEST(GdiWrappers, CompatibleBitmapTakesTheTargetsFormat) {
    HWND hWnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr,
                                  nullptr);
    HDC hScreen = ::GetDC(hWnd);
    for (int i = 0; i < 2; ++i) {  // the second one is recycled
        CBitmap bitmap;
        ASSERT_TRUE(bitmap.CreateCompatibleBitmap(CDC::FromHandle(hScreen), 30, 20));
        EXPECT_EQ(::GetDeviceCaps(hScreen, BITSPIXEL), BitsOf(bitmap));
    }
    ::ReleaseDC(hWnd, hScreen);
    ::DestroyWindow(hWnd);

    // A fresh memory context holds a one-bit bitmap, so its compatible
    // bitmaps are monochrome.
    CDC memDC;
    memDC.CreateCompatibleDC(nullptr);
    CBitmap mono, deep;
    mono.CreateCompatibleBitmap(&memDC, 30, 20);
    EXPECT_EQ(1, BitsOf(mono));
    DibTarget target(4, 4);
    deep.CreateCompatibleBitmap(target.dc(), 30, 20);
    EXPECT_EQ(32, BitsOf(deep));
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
    static const int kFieldId = 42;
};

// What a field shows after the dialog's data exchange has put `psz` in it.
std::string Exchanged(TextExchangeDlg& dlg, HWND hField, const char* psz) {
    dlg.m_strText = psz;
    dlg.UpdateData(FALSE);
    char text[32] = "";
    ::GetWindowTextA(hField, text, sizeof(text));
    return text;
}

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
    EXPECT_EQ(Exchanged(dlg, hFirst, "first"), "first");
    ::DestroyWindow(hFirst);
    HWND hSecond = makeField();
    EXPECT_EQ(Exchanged(dlg, hSecond, "second"), "second");

    // A second field of another dialog under the same id is not this dialog's.
    HWND hOtherHost = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                        nullptr, nullptr);
    ::SetParent(hSecond, hOtherHost);
    HWND hThird = makeField();
    EXPECT_EQ(Exchanged(dlg, hThird, "third"), "third");
    char text[32] = "";
    ::GetWindowTextA(hSecond, text, sizeof(text));
    EXPECT_STREQ(text, "second");

    // The locale's ordering ignores the soft hyphen: these texts compare equal there.
    ::SetWindowTextA(hThird, "1\xAD");
    EXPECT_EQ(Exchanged(dlg, hThird, "\xAD\x31"), "\xAD\x31");

    dlg.Detach();
    ::DestroyWindow(hOtherHost);
    ::DestroyWindow(hHost);
}

// The texts a field is given, by any means.
int g_nTextsSet = 0;
LRESULT CALLBACK CountTextsSet(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) ++g_nTextsSet;
    WNDPROC pfnField = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    return ::CallWindowProcA(pfnField, hWnd, message, wParam, lParam);
}

// The exchange does not set a text the field already shows, however often it
// runs; a field changed some other way meanwhile gets its text back.
TEST(DataExchangeTest, ShownTextIsNotSetAgainAndAChangeFromOutsideIsUndone) {
    struct Case {
        const char* pszWhat;
        const char* pszClass;
        DWORD dwStyle;
        void (*pfnChange)(HWND);
    };
    const auto setText = [](HWND hField) { ::SetWindowTextA(hField, "other"); };
    const Case kCases[] = {
        {"edit, text set", "EDIT", 0, setText},
        {"edit, text typed", "EDIT", 0,
         [](HWND hField) {
             ::SendMessageA(hField, EM_SETSEL, 0, -1);
             ::SendMessageA(hField, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>("other"));
         }},
        {"multi-line edit, text set", "EDIT", ES_MULTILINE, setText},
        {"static, text set", "STATIC", 0, setText},
    };
    HWND hHost = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                   nullptr, nullptr);
    TextExchangeDlg dlg;
    // The dialog's own procedure, as in a dialog run modally: it hears the fields' notifications.
    ASSERT_TRUE(dlg.SubclassWindow(hHost));
    for (const Case& c : kCases) {
        HWND hField =
            ::CreateWindowExA(0, c.pszClass, "", WS_CHILD | c.dwStyle, 0, 0, 80, 20, hHost,
                              reinterpret_cast<HMENU>(TextExchangeDlg::kFieldId), nullptr, nullptr);
        ::SetWindowLongPtrA(
            hField, GWLP_USERDATA,
            ::SetWindowLongPtrA(hField, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountTextsSet)));
        g_nTextsSet = 0;
        EXPECT_EQ(Exchanged(dlg, hField, "x"), "x") << c.pszWhat;
        EXPECT_EQ(Exchanged(dlg, hField, "x"), "x") << c.pszWhat;
        EXPECT_EQ(g_nTextsSet, 1) << c.pszWhat << ": a text the field showed was set again";
        c.pfnChange(hField);
        EXPECT_EQ(Exchanged(dlg, hField, "x"), "x")
            << c.pszWhat << ": the change from outside stayed";
        ::DestroyWindow(hField);
    }
    dlg.UnsubclassWindow();
    ::DestroyWindow(hHost);
}

// In Shift-JIS 0x95 0x5C is one character whose trail byte is a backslash.
TEST(StringTest, ReverseFindSkipsTrailBytes) {
    CString strPath("C:\\X\\\x95\x5C.exe");
    EXPECT_EQ(strPath.ReverseFind('\\', 932), 4);
    EXPECT_EQ(strPath.ReverseFind('\\', 1252), 6);
    EXPECT_EQ(strPath.ReverseFind('/', 932), -1);
}

// Texts up to the short buffer's size and past it come out whole, and a text
// formatted from the string itself reads it before it is replaced.
TEST(StringTest, FormatKeepsEveryCharacterAtAnyLength) {
    for (size_t nLength : {0u, 254u, 255u, 256u, 257u, 5000u}) {
        const std::string text(nLength, 'a');
        CString str("old");
        str.Format("%s%d", text.c_str(), 7);
        EXPECT_EQ(std::string(str.GetString()), text + "7") << nLength;
        str.Format("<%s>", str.GetString());
        EXPECT_EQ(std::string(str.GetString()), "<" + text + "7>") << nLength;
    }
}

// Only a path too long for the plain form is rewritten, each kind into the
// long form the wide calls take for it.
TEST(StringTest, LongPathsTakeTheirOwnLongForm) {
    const std::wstring tail(MAX_PATH, L'x');
    const struct {
        std::wstring in, out;
    } kCases[] = {
        {L"C:\\short", L"C:\\short"},
        {L"C:\\" + tail, L"\\\\?\\C:\\" + tail},
        {L"\\\\server\\share\\" + tail, L"\\\\?\\UNC\\server\\share\\" + tail},
        {L"\\\\?\\C:\\" + tail, L"\\\\?\\C:\\" + tail},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(std::wstring(AfxLongPath(CStringW(c.in)).GetString()), c.out);
    }
}

}  // namespace
