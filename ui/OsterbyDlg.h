// The main window: four value fields fed by a 250 ms sampling cycle, the
// fan-speed chart, and the manual fan override.
#pragma once

#include "chart/MultiColorPlotCtrl.h"
#include "framework/Afx.h"

// The quantity the next sampling tick reads: 0 CPU, 1 ambient, 2 fan, 3 duty.
extern BYTE g_nPhase;

class COsterbyDlg : public CDialog {
  public:
    explicit COsterbyDlg(CWnd* pParent = nullptr);
    ~COsterbyDlg() override;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnBnClickedExit();
    void OnTimer(UINT_PTR nIDEvent);
    void OnBnClickedTest();
    void OnBnClickedStop();
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) override;
    BOOL OnQueryEndSession();
    void OnEndSession(BOOL bEnding);
    // However the window goes (Exit, a cancel, WM_QUIT, destroyed, the
    // session ending), a fan still under manual control is handed back first.
    void OnDestroy();

    void UpdateReadings();
    void ReadCpuTemp();
    void ReadEnvTemp();
    void ReadFanSpeed(WORD wHighReg, WORD wLowReg);
    void ReadPwmDuty(WORD wReg);
    struct Formatted {
        int nValue;
        bool bValid;
    };
    static void FormatReading(CString& str, int nValue, Formatted& formatted);
    void ManualModeOn();
    void ManualModeOff();

    BOOL IsPwm0Selected();
    void SetSliderPos(int nPos);
    // The one place that gives the fan back to the EC (0 to the mode
    // register). It writes once per spell of manual mode, however many ways
    // out call it; bEvenIfAutomatic writes also with manual mode off.
    void HandFanBack(BOOL bEvenIfAutomatic = FALSE);
    // A crash in manual mode would leave the fan where the user last put it,
    // with nothing left to hand it back: the top-level exception filter does.
    static LONG WINAPI HandFanBackOnCrash(EXCEPTION_POINTERS* pInfo);

    CMultiColorPlotCtrl m_plot;
    CString m_strCpuTemp;
    CString m_strEnvTemp;
    CString m_strFanSpeed;
    CString m_strPwmDuty;
    // The number each of the four texts was last formatted from; only the
    // sampling tick writes those texts.
    Formatted m_formatted[4] = {};
    int m_nCpuTemp;
    int m_nEnvTemp;
    UINT m_nFanSpeed;
    int m_nPwmDuty;
    BYTE m_bManual;
    HICON m_hIcon;
    CButton m_btnPwm0;

    DECLARE_MESSAGE_MAP()
};
