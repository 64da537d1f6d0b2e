#include "app/Globals.h"

CStringW g_strExeDir;
CStringW g_strIniPath;
BYTE g_bPlatformType = 0;
