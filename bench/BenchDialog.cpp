#include "bench/BenchDialog.h"

#include <commctrl.h>

#include "ui/resource.h"

namespace {

const UINT WM_BENCH_RUN = WM_APP + 1;

// Dialogs opened without a parent are owned by the application's main window.
CWinApp g_benchApp;

}  // namespace

BEGIN_MESSAGE_MAP(CBenchDialog, COsterbyDlg){WM_BENCH_RUN, 0, 0,
                                             [](CObject* p, WPARAM, LPARAM) -> LRESULT {
                                                 CBenchDialog* pDlg = AFX_MSG_THIS(p);
                                                 pDlg->Run();
                                                 pDlg->EndDialog(IDOK);
                                                 return 0;
                                             }},
    END_MESSAGE_MAP()

        void CBenchDialog::RunModal() {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    g_benchApp.m_pMainWnd = this;
    DoModal();
}

BOOL CBenchDialog::OnInitDialog() {
    COsterbyDlg::OnInitDialog();
    // Only what Run() sends is measured.
    KillTimer(IDT_SAMPLE);
    PostMessage(WM_BENCH_RUN);
    return TRUE;
}
