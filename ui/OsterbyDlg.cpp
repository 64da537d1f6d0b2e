#include "ui/OsterbyDlg.h"

#include "app/Globals.h"
#include "ec/EcAccess.h"
#include "ec/EcProtocol.h"
#include "guard/FanGuard.h"
#include "ui/AboutDlg.h"
#include "ui/resource.h"

BYTE g_nPhase = 0;

BEGIN_MESSAGE_MAP(COsterbyDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_EXIT, OnBnClickedExit)
ON_WM_TIMER()
ON_BN_CLICKED(IDC_TEST, OnBnClickedTest)
ON_BN_CLICKED(IDC_STOP, OnBnClickedStop)
ON_WM_HSCROLL()
ON_WM_QUERYENDSESSION()
ON_WM_ENDSESSION()
ON_WM_DESTROY()
END_MESSAGE_MAP()

COsterbyDlg::COsterbyDlg(CWnd* pParent) : CDialog(IDD_MAIN_DIALOG, pParent) {
    // Read on the way out even when the window never came up.
    m_bManual = 0;
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

namespace {

// The profile calls take at most MAX_PATH characters, however the path is
// written: a longer one is read through its short (8.3) form, where the
// volume keeps one.
CStringW ProfilePath(const CStringW& strPath) {
    if (strPath.GetLength() < MAX_PATH) return strPath;
    wchar_t szShort[MAX_PATH + 4];
    DWORD n = ::GetShortPathNameW(AfxLongPath(strPath), szShort, MAX_PATH + 4);
    if (n == 0 || n >= MAX_PATH + 4) return strPath;
    const wchar_t* psz = szShort;
    if (wcsncmp(psz, L"\\\\?\\", 4) == 0) psz += 4;
    return wcslen(psz) < MAX_PATH ? CStringW(psz) : strPath;
}

// On 64-bit Windows, and for a 32-bit program under WOW64, the system may
// swallow an exception that leaves a window procedure at the boundary back
// into the system, so that the crash filter never hears of it (see the
// remarks on WindowProc). Where the system offers the switch, it is turned
// off; the manifest's compatibility section turns off the rest.
void LetWindowProcedureCrashesReachTheFilter() {
    typedef BOOL(WINAPI * GetPolicyFn)(LPDWORD);
    typedef BOOL(WINAPI * SetPolicyFn)(DWORD);
    const DWORD kCallbackFilterEnabled = 0x1;  // PROCESS_CALLBACK_FILTER_ENABLED
    HMODULE hKernel = ::GetModuleHandleW(L"kernel32.dll");
    auto pfnGet = reinterpret_cast<GetPolicyFn>(
        reinterpret_cast<void*>(::GetProcAddress(hKernel, "GetProcessUserModeExceptionPolicy")));
    auto pfnSet = reinterpret_cast<SetPolicyFn>(
        reinterpret_cast<void*>(::GetProcAddress(hKernel, "SetProcessUserModeExceptionPolicy")));
    DWORD dwFlags = 0;
    if (pfnGet != nullptr && pfnSet != nullptr && pfnGet(&dwFlags)) {
        pfnSet(dwFlags & ~kCallbackFilterEnabled);
    }
}

// The dialog whose fan a crash hands back, and the filter that was in place
// before it (the C runtime's), which still runs afterwards.
COsterbyDlg* g_pFanGuardDlg = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_pfnPrevCrashFilter = nullptr;

}  // namespace

COsterbyDlg::~COsterbyDlg() {
    if (g_pFanGuardDlg != this) return;
    g_pFanGuardDlg = nullptr;
    // There is no way to read the filter without replacing it. A filter
    // installed since ours goes back in: it may still pass crashes on to ours,
    // which with no dialog left only passes them on to the one before.
    LPTOP_LEVEL_EXCEPTION_FILTER pfnCurrent = ::SetUnhandledExceptionFilter(g_pfnPrevCrashFilter);
    if (pfnCurrent != &COsterbyDlg::HandFanBackOnCrash) ::SetUnhandledExceptionFilter(pfnCurrent);
}

LONG WINAPI COsterbyDlg::HandFanBackOnCrash(EXCEPTION_POINTERS* pInfo) {
    // Taken first: if the hand-back itself faults, the second pass skips it.
    COsterbyDlg* pDlg = g_pFanGuardDlg;
    g_pFanGuardDlg = nullptr;
    if (pDlg != nullptr) pDlg->HandFanBack();
    return g_pfnPrevCrashFilter != nullptr ? g_pfnPrevCrashFilter(pInfo)
                                           : EXCEPTION_CONTINUE_SEARCH;
}

void COsterbyDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CHART, m_plot);
    DDX_Text(pDX, IDC_CPU_TEMP, m_strCpuTemp);
    DDX_Text(pDX, IDC_ENV_TEMP, m_strEnvTemp);
    DDX_Text(pDX, IDC_FAN_SPEED, m_strFanSpeed);
    DDX_Text(pDX, IDC_PWM_DUTY, m_strPwmDuty);
    DDX_Control(pDX, IDC_PWM0, m_btnPwm0);
}

BOOL COsterbyDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // Right after the chart's 50 ms repaint timer, which the first data
    // exchange starts: in step with it, every sampling tick shares the
    // thread's wake-up with a repaint instead of waking it once more. The
    // first tick still comes only after the initialisation below.
    SetTimer(IDT_SAMPLE, 250, nullptr);

    CMenu* pSysMenu = GetSystemMenu(FALSE);
    if (pSysMenu != nullptr) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    g_strExeDir = AfxGetModulePath(nullptr);
    g_strExeDir = g_strExeDir.Left(g_strExeDir.ReverseFind(L'\\'));
    g_strIniPath.Format(L"%ls\\data\\Led.ini", g_strExeDir.GetString());

    g_bPlatformType =
        ::GetPrivateProfileIntW(L"PLATFORM_TYPE", L"Value", 0, ProfilePath(g_strIniPath)) != 0 ? 1
                                                                                               : 0;
    // Hands the fan back should this process be ended from outside.
    StartFanGuardian(g_strExeDir, g_bPlatformType);

    m_plot.SetTitle("Fan Speed");
    m_plot.SetUnit(" RPM ");
    m_plot.SetValueRange(0.0f, 7000.0f);
    m_plot.SetPointSpacing(4);
    m_plot.SetGridStepX(15);
    m_plot.SetCaptionMode(4);
    m_plot.SetPlotStyle(1);

    m_nCpuTemp = 0;
    m_nEnvTemp = 0;
    m_nFanSpeed = 0;
    m_nPwmDuty = 0;
    m_bManual = 0;
    if (g_pFanGuardDlg == nullptr) {
        LetWindowProcedureCrashesReachTheFilter();
        g_pfnPrevCrashFilter = ::SetUnhandledExceptionFilter(&COsterbyDlg::HandFanBackOnCrash);
        g_pFanGuardDlg = this;
    }

    CSliderCtrl slider;
    if (slider.Attach(::GetDlgItem(m_hWnd, IDC_PWM_SLIDER))) {
        slider.SetRange(0, 127, TRUE);
        slider.Detach();
    }
    SetSliderPos(0);

    m_btnPwm0.SendMessage(BM_SETCHECK, BST_CHECKED);
    return TRUE;
}

void COsterbyDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        Default();
    }
}

void COsterbyDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR COsterbyDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

BOOL COsterbyDlg::PreTranslateMessage(MSG* pMsg) {
    // Enter and Escape would end the dialog through the dialog manager.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN)) {
        return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

BOOL COsterbyDlg::IsPwm0Selected() {
    return m_btnPwm0.GetCheck() == BST_CHECKED;
}

void COsterbyDlg::SetSliderPos(int nPos) {
    ::SendMessageA(::GetDlgItem(m_hWnd, IDC_PWM_SLIDER), TBM_SETPOS, TRUE, nPos);
}

// ---- Sampling cycle --------------------------------------------------------

void COsterbyDlg::OnTimer(UINT_PTR) {
    UpdateReadings();
    m_plot.AppendValue(static_cast<float>(m_nFanSpeed));
    Default();
}

void COsterbyDlg::UpdateReadings() {
    switch (g_nPhase) {
        case 0:
            g_nPhase = 1;
            ReadCpuTemp();
            break;
        case 1:
            g_nPhase = 2;
            ReadEnvTemp();
            break;
        case 2:
            g_nPhase = 3;
            if (IsPwm0Selected()) {
                ReadFanSpeed(kRegTachHighPwm0, kRegTachLowPwm0);
            } else {
                ReadFanSpeed(kRegTachHighPwm4, kRegTachLowPwm4);
            }
            break;
        case 3:
            g_nPhase = 0;
            ReadPwmDuty(IsPwm0Selected() ? kRegDutyPwm0 : kRegDutyPwm4);
            break;
        default:
            break;
    }
    // A tick reads one quantity: the others keep the texts they have.
    FormatReading(m_strCpuTemp, m_nCpuTemp, m_formatted[0]);
    FormatReading(m_strEnvTemp, m_nEnvTemp, m_formatted[1]);
    FormatReading(m_strFanSpeed, static_cast<int>(m_nFanSpeed), m_formatted[2]);
    FormatReading(m_strPwmDuty, m_nPwmDuty, m_formatted[3]);
    UpdateData(FALSE);
}

void COsterbyDlg::FormatReading(CString& str, int nValue, Formatted& formatted) {
    if (formatted.bValid && formatted.nValue == nValue) return;
    str.Format("%d", nValue);
    formatted.nValue = nValue;
    formatted.bValid = true;
}

void COsterbyDlg::ReadCpuTemp() {
    m_nCpuTemp = ReadEcRegister(kRegCpuTemp);
}

void COsterbyDlg::ReadEnvTemp() {
    m_nEnvTemp = ReadEcRegister(kRegEnvTemp);
}

void COsterbyDlg::ReadFanSpeed(WORD wHighReg, WORD wLowReg) {
    // Only the register's byte counts, whatever else a library returns.
    UINT nHigh = static_cast<UINT>(ReadEcRegister(wHighReg)) & 0xFF;
    UINT nLow = static_cast<UINT>(ReadEcRegister(wLowReg)) & 0xFF;
    m_nFanSpeed = FanSpeedFromCount(nHigh * 256 + nLow);
}

void COsterbyDlg::ReadPwmDuty(WORD wReg) {
    // In manual mode the field keeps showing the duty the user set.
    if (m_bManual) return;
    m_nPwmDuty = ReadEcRegister(wReg);
}

// ---- Manual fan control ----------------------------------------------------

// The guardian learns of each change before the write, so that whenever this
// process is ended, a hand-back owed or under way is made by the guardian.
void COsterbyDlg::ManualModeOn() {
    FanGuardManualOn();
    WriteEcRegister(kRegManualMode, 1);
}

void COsterbyDlg::ManualModeOff() {
    FanGuardHandingBack();
    WriteEcRegister(kRegManualMode, 0);
    FanGuardHandedBack();
}

void COsterbyDlg::OnBnClickedTest() {
    if (m_bManual) return;
    // While another copy, or the guardian of one that died, holds the fan
    // (in this logon session or another), this window stays in automatic
    // mode: its 1 would take that copy's fan from under its window, and the
    // user may keep it for hours. So does a window that has no lock of ours.
    if (TakeFanLock() != kFanLockTaken) return;
    // A kill from here on must find a guardian watching.
    EnsureFanGuardian();
    m_bManual = 1;
    ManualModeOn();
    SetSliderPos(0);
    m_nPwmDuty = 0;
    // The EC needs a moment in manual mode before it takes a duty.
    ::Sleep(100);
    WORD wReg = IsPwm0Selected() ? kRegManualDutyPwm0 : kRegManualDutyPwm4;
    WriteEcRegister(wReg, 0);
}

void COsterbyDlg::OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) {
    CDialog::OnHScroll(nSBCode, nPos, pScrollBar);
    if (m_bManual != 1) return;
    // Every notification writes the slider's own position again, whatever its code.
    int nSliderPos =
        static_cast<int>(::SendMessageA(::GetDlgItem(m_hWnd, IDC_PWM_SLIDER), TBM_GETPOS, 0, 0));
    m_nPwmDuty = nSliderPos;
    WORD wReg = IsPwm0Selected() ? kRegManualDutyPwm0 : kRegManualDutyPwm4;
    WriteEcRegister(wReg, static_cast<BYTE>(nSliderPos & 0xFF));
}

// Stop and Exit write the EC's own control back in every state: the user asks
// for it, and another program may have left the fan in manual mode.
void COsterbyDlg::OnBnClickedStop() {
    SetSliderPos(0);
    HandFanBack(TRUE);
}

void COsterbyDlg::OnBnClickedExit() {
    HandFanBack(TRUE);
    KillTimer(IDT_SAMPLE);
    CDialog::OnCancel();
}

void COsterbyDlg::HandFanBack(BOOL bEvenIfAutomatic) {
    if (m_bManual) {
        m_bManual = 0;
        ManualModeOff();
        ReleaseFanLock();
        return;
    }
    // In automatic mode the 0 is written only while no other copy holds the
    // fan: that copy's window shows manual mode, and the EC must agree. With
    // no lock of ours to ask, no copy can have taken the fan.
    if (!bEvenIfAutomatic) return;
    const FanLock lock = TakeFanLock();
    if (lock == kFanLockBusy) return;
    ManualModeOff();
    if (lock == kFanLockTaken) ReleaseFanLock();
}

void COsterbyDlg::OnDestroy() {
    // Handed back while the window still exists: a copy started meanwhile
    // finds it and ends, instead of taking a fan whose 0 is still on its way.
    HandFanBack();
    CDialog::OnDestroy();
}

// Nothing in the window asks for OK: there is no OK button and Enter is
// filtered. An IDOK from the dialog manager or from another program would end
// the dialog through the base class, so it is ignored and the window stays.
void COsterbyDlg::OnOK() {}

BOOL COsterbyDlg::OnQueryEndSession() {
    return TRUE;
}

void COsterbyDlg::OnEndSession(BOOL bEnding) {
    if (!bEnding) return;
    // The system may end the process as soon as this returns, without the
    // modal run coming to its end: hand the fan back now. The dialog ends as
    // well, so a process left running does not show frozen readings.
    HandFanBack();
    KillTimer(IDT_SAMPLE);
    EndDialog(IDCANCEL);
}
