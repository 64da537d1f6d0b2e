// Identifiers of the dialog templates, controls, resources and timers.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_LOGO 153

#define IDM_ABOUTBOX 0x0010
#define IDT_SAMPLE 1013

#define IDC_STOP 1000
#define IDC_CPU_TEMP 1001
#define IDC_ENV_TEMP 1002
#define IDC_FAN_SPEED 1003
#define IDC_PWM_DUTY 1004
#define IDC_EXIT 1006
#define IDC_CHART 1040
#define IDC_TEST 1041
#define IDC_PWM_SLIDER 1042
#define IDC_PWM0 1050
#define IDC_PWM4 1051

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
