// A message hook that tests place on the program's thread: a window that is
// posted the registered message "VorlaneTestDestroyWindow" is destroyed from
// its own thread, the way a stray DestroyWindow inside the program would.
#include <windows.h>

extern "C" __declspec(dllexport) LRESULT CALLBACK
    DestroyOnRequest(int nCode, WPARAM wParam, LPARAM lParam) {
    static const UINT s_nRequest = ::RegisterWindowMessageA("VorlaneTestDestroyWindow");
    MSG* pMsg = reinterpret_cast<MSG*>(lParam);
    if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->message == s_nRequest) {
        ::DestroyWindow(pMsg->hwnd);
        pMsg->message = WM_NULL;
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}
