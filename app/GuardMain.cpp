// VorlaneGuard.exe: started by Vorlane.exe, never by the user; see FanGuardian.h.
#include <windows.h>

#include "app/FanGuardian.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR pszCmdLine, int) {
    return RunFanGuardian(pszCmdLine);
}
