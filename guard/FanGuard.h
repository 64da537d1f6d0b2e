// The program's side of the guardian and of the machine's fan lock (see
// GuardShared.h for how the two processes work together).
#pragma once

#include <windows.h>

// Opens the machine's fan lock and starts a guardian for this process, which
// writes through the WrRdIO.dll this process loaded, from `pszExeDir` (no
// trailing backslash), with the index triple of `bPlatformType`. Does not
// wait for it to be ready. False, with a debug-output line, when it could
// not; the program then works on its own hand-back.
bool StartFanGuardian(const wchar_t* pszExeDir, BYTE bPlatformType);
// Before the fan is taken: true when a guardian is ready and running; when
// none is (it never started, failed, or was killed), starts one again and
// waits a moment for it.
bool EnsureFanGuardian();

enum FanLock {
    kFanLockTaken,      // this thread holds it now
    kFanLockBusy,       // another copy, or the guardian of one, holds the fan
    kFanLockUntrusted,  // no lock of ours: its name is taken by another program
};
// The machine's fan lock, without waiting: a copy that holds the fan holds it
// for as long as its user keeps manual mode.
FanLock TakeFanLock();
void ReleaseFanLock();

// Before 0x9130 = 1.
void FanGuardManualOn();
// Around 0x9130 = 0.
void FanGuardHandingBack();
void FanGuardHandedBack();
