// Process-wide state, filled once by the main window's initialisation.
#pragma once

#include "framework/StringW.h"

// Wide: the folder may be named outside the ANSI code page, and be long.
extern CStringW g_strExeDir;   // folder of the executable, no trailing backslash
extern CStringW g_strIniPath;  // full path of data\Led.ini
extern BYTE g_bPlatformType;   // 1: index triple 0,1,2; 0: 6,7,8
