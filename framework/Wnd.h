// Window side of the framework: command targets, message maps, CWnd and the
// control wrappers. A CWnd wraps one HWND; the window procedure finds the
// object in a process-wide table of bound windows and walks the class's
// static message map.
#pragma once

#include <windows.h>
#include <commctrl.h>

class CDC;
class CWnd;

class CObject {
  public:
    virtual ~CObject() = default;

  protected:
    CObject() = default;

  private:
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};

// One entry of a static message table. `nCode` is the notification code and
// `nID` the control id for WM_COMMAND entries; both are ignored for others.
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    LRESULT (*pfn)(CObject* pTarget, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget : public CObject {
  public:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // Finds the first entry for the message, from this class's table up to
    // the root. Returns null when no table names it.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, WPARAM wParam) const;
};

#define DECLARE_MESSAGE_MAP()                     \
  protected:                                      \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

// The entries are captureless lambdas defined inside a member function of the
// class, so they may call its protected handlers.
#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        typedef baseClass TheBaseClass;                 \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                     \
    { 0, 0, 0, nullptr }                                                                      \
    }                                                                                         \
    ;                                                                                         \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, _messageEntries}; \
    return &messageMap;                                                                       \
    }

#define AFX_MSG_THIS(p) static_cast<ThisClass*>(static_cast<CCmdTarget*>(p))

#define ON_WM_PAINT()                                            \
    {WM_PAINT, 0, 0, [](CObject* p, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(p)->OnPaint();                             \
         return 0;                                               \
     }},
#define ON_WM_TIMER()                                              \
    {WM_TIMER, 0, 0, [](CObject* p, WPARAM w, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(p)->OnTimer(static_cast<UINT_PTR>(w));       \
         return 0;                                                 \
     }},
#define ON_WM_ERASEBKGND()                                                                \
    {WM_ERASEBKGND, 0, 0, [](CObject* p, WPARAM w, LPARAM) -> LRESULT {                   \
         return AFX_MSG_THIS(p)->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(w))); \
     }},
#define ON_WM_SYSCOMMAND()                                                \
    {WM_SYSCOMMAND, 0, 0, [](CObject* p, WPARAM w, LPARAM l) -> LRESULT { \
         AFX_MSG_THIS(p)->OnSysCommand(static_cast<UINT>(w), l);          \
         return 0;                                                        \
     }},
#define ON_WM_QUERYDRAGICON()                                                  \
    {WM_QUERYDRAGICON, 0, 0, [](CObject* p, WPARAM, LPARAM) -> LRESULT {       \
         return reinterpret_cast<LRESULT>(AFX_MSG_THIS(p)->OnQueryDragIcon()); \
     }},
#define ON_WM_HSCROLL()                                                                   \
    {WM_HSCROLL, 0, 0, [](CObject* p, WPARAM w, LPARAM l) -> LRESULT {                    \
         AFX_MSG_THIS(p)->OnHScroll(                                                      \
             LOWORD(w), HIWORD(w),                                                        \
             reinterpret_cast<CScrollBar*>(CWnd::FromHandle(reinterpret_cast<HWND>(l)))); \
         return 0;                                                                        \
     }},
#define ON_WM_QUERYENDSESSION() \
    {WM_QUERYENDSESSION, 0, 0,  \
     [](CObject* p, WPARAM, LPARAM) -> LRESULT { return AFX_MSG_THIS(p)->OnQueryEndSession(); }},
#define ON_WM_ENDSESSION()                                              \
    {WM_ENDSESSION, 0, 0, [](CObject* p, WPARAM w, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(p)->OnEndSession(static_cast<BOOL>(w));           \
         return 0;                                                      \
     }},
#define ON_WM_DESTROY()                                            \
    {WM_DESTROY, 0, 0, [](CObject* p, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(p)->OnDestroy();                             \
         return 0;                                                 \
     }},
#define ON_BN_CLICKED(id, memberFxn)                                           \
    {WM_COMMAND, BN_CLICKED, (id), [](CObject* p, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(p)->memberFxn();                                         \
         return 0;                                                             \
     }},
#define ON_COMMAND(id, memberFxn)                                     \
    {WM_COMMAND, 0, (id), [](CObject* p, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(p)->memberFxn();                                \
         return 0;                                                    \
     }},

class CScrollBar;

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    operator HWND() const { return m_hWnd; }

    // The CWnd bound to a window, or for a window the program has not bound a
    // non-owning temporary one of the calling thread's, valid until that
    // thread's modal loop picks up its next message. Null for a null handle.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);

    BOOL Attach(HWND hWnd);
    HWND Detach();

    // Binds the object to an existing window: PreSubclassWindow runs first,
    // then the window procedure is replaced by the framework's.
    BOOL SubclassWindow(HWND hWnd);
    HWND UnsubclassWindow();
    virtual void PreSubclassWindow() {}

    virtual BOOL PreTranslateMessage(MSG* pMsg);

    // Default processing of the message now being handled.
    LRESULT Default();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }

    CWnd* GetDlgItem(int nID) const;
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
        return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
    }
    BOOL KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
    int SetWindowRgn(HRGN hRgn, BOOL bRedraw) { return ::SetWindowRgn(m_hWnd, hRgn, bRedraw); }
    class CMenu* GetSystemMenu(BOOL bRevert) const;

    // The dispatcher: the message table first, default processing after.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnDestroy() { Default(); }

    static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  protected:
    // The procedure that ran the window before we subclassed it.
    WNDPROC m_pfnSuper = nullptr;
    // Called when the window is destroyed and the binding is gone.
    virtual void PostNcDestroy() {}

  private:
    struct CurrentMsg {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    CurrentMsg m_msgCur = {0, 0, 0};
    bool m_bTemporary = false;
    friend class CTempWndMap;
};

class CScrollBar : public CWnd {};

class CStatic : public CWnd {};

class CButton : public CWnd {
  public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
};

class CSliderCtrl : public CWnd {
  public:
    void SetRange(int nMin, int nMax, BOOL bRedraw = FALSE) {
        SendMessage(TBM_SETRANGEMIN, FALSE, nMin);
        SendMessage(TBM_SETRANGEMAX, bRedraw, nMax);
    }
};

class CMenu : public CObject {
  public:
    HMENU m_hMenu = nullptr;
    operator HMENU() const { return m_hMenu; }
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr) {
        return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
    }
};
