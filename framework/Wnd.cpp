#include "framework/Wnd.h"

#include <map>
#include <unordered_map>

#include "framework/App.h"
#include "framework/StaticLock.h"

namespace {

// Windows bound to CWnd objects. A table of our own rather than a window
// property: the lookup runs for every message, and under Wine each property or
// window-owner query is a round trip to the server. The lock lets a test drive
// the dialog from another thread.
class CPermanentWndMap {
  public:
    static CWnd* Find(HWND hWnd) {
        Lock lock;
        auto it = Map().find(hWnd);
        return it != Map().end() ? it->second : nullptr;
    }
    static bool Add(HWND hWnd, CWnd* pWnd) {
        Lock lock;
        return Map().emplace(hWnd, pWnd).second;
    }
    static void Remove(HWND hWnd) {
        Lock lock;
        Map().erase(hWnd);
    }

  private:
    // Windows may still be unbound while statics go away: see CStaticLock.
    using Lock = CStaticLock<struct WndMapTag>;
    static std::unordered_map<HWND, CWnd*>& Map() {
        static std::unordered_map<HWND, CWnd*>* map = new std::unordered_map<HWND, CWnd*>;
        return *map;
    }
};

}  // namespace

// Non-owning wrappers for windows the program has not bound, valid until the
// modal loop of the thread that asked for them picks up its next message (the
// framework's idle point). Each thread has a table of its own, so one
// thread's idle point never frees a wrapper that another is using.
class CTempWndMap {
  public:
    static CWnd* Get(HWND hWnd) {
        auto& map = Map();
        auto it = map.find(hWnd);
        if (it != map.end()) return it->second;
        CWnd* pWnd = new CWnd;
        pWnd->m_hWnd = hWnd;
        pWnd->m_bTemporary = true;
        map[hWnd] = pWnd;
        return pWnd;
    }
    static void Clear() {
        for (auto& entry : Map()) {
            entry.second->m_hWnd = nullptr;
            delete entry.second;
        }
        Map().clear();
    }

  private:
    // A plain pointer, never destroyed: mingw runs thread-local destructors
    // after the thread's storage is gone. A thread that ends keeps its few
    // wrappers until the process ends.
    static std::map<HWND, CWnd*>& Map() {
        static thread_local std::map<HWND, CWnd*>* t_pMap = nullptr;
        if (t_pMap == nullptr) t_pMap = new std::map<HWND, CWnd*>;
        return *t_pMap;
    }
};

void AfxDeleteTempWndMap() {
    CTempWndMap::Clear();
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage, WPARAM wParam) const {
    for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap != nullptr;
         pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = pMap->lpEntries; e->pfn != nullptr; ++e) {
            if (e->nMessage != nMessage) continue;
            if (nMessage == WM_COMMAND &&
                (e->nCode != HIWORD(wParam) || e->nID != LOWORD(wParam))) {
                continue;
            }
            return e;
        }
    }
    return nullptr;
}

CWnd::~CWnd() {
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr && pApp->m_pMainWnd == this) pApp->m_pMainWnd = nullptr;
    if (m_hWnd != nullptr && !m_bTemporary && FromHandlePermanent(m_hWnd) == this) {
        // The derived parts are gone: unbind first so no message reaches them.
        HWND hWnd = UnsubclassWindow();
        if (hWnd != nullptr) ::DestroyWindow(hWnd);
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    return CPermanentWndMap::Find(hWnd);
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    CWnd* pWnd = FromHandlePermanent(hWnd);
    return pWnd != nullptr ? pWnd : CTempWndMap::Get(hWnd);
}

BOOL CWnd::Attach(HWND hWnd) {
    if (hWnd == nullptr || m_hWnd != nullptr || !::IsWindow(hWnd)) return FALSE;
    if (!CPermanentWndMap::Add(hWnd, this)) return FALSE;
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd != nullptr) CPermanentWndMap::Remove(hWnd);
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd)) return FALSE;
    PreSubclassWindow();
    WNDPROC pfnOld = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    if (pfnOld != &CWnd::AfxWndProc) m_pfnSuper = pfnOld;
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    if (m_hWnd == nullptr) return nullptr;
    if (m_pfnSuper != nullptr) {
        ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        m_pfnSuper = nullptr;
    }
    return Detach();
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_msgCur.message, m_msgCur.wParam, m_msgCur.lParam);
}

CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
    DWORD dwStyle = static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE));
    DWORD dwNew = (dwStyle & ~dwRemove) | dwAdd;
    if (dwStyle == dwNew) return FALSE;
    ::SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(dwNew));
    if (nFlags != 0) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    }
    return TRUE;
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const {
    HMENU hMenu = ::GetSystemMenu(m_hWnd, bRevert);
    if (hMenu == nullptr) return nullptr;
    static CMenu* menu = new CMenu;
    menu->m_hMenu = hMenu;
    return menu;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const AFX_MSGMAP_ENTRY* pEntry = FindMessageEntry(message, wParam);
    if (pEntry != nullptr) return pEntry->pfn(this, wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper != nullptr)
        return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

void CWnd::OnHScroll(UINT, UINT, CScrollBar*) {
    Default();
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (pWnd == nullptr) return ::DefWindowProcA(hWnd, message, wParam, lParam);

    CurrentMsg saved = pWnd->m_msgCur;
    pWnd->m_msgCur = {message, wParam, lParam};
    LRESULT lResult = pWnd->WindowProc(message, wParam, lParam);
    pWnd->m_msgCur = saved;

    if (message == WM_NCDESTROY) {
        // The window is gone; the object lives on unbound.
        WNDPROC pfnSuper = pWnd->m_pfnSuper;
        if (pfnSuper != nullptr) {
            ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnSuper));
        }
        pWnd->m_pfnSuper = nullptr;
        pWnd->Detach();
        pWnd->PostNcDestroy();
    }
    return lResult;
}
