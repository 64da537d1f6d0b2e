#include "app/Globals.h"

CString g_strExeDir;
CString g_strIniPath;
BYTE g_bPlatformType = 0;
