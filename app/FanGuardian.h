// The guardian: a small process of ours that hands the fan back if this
// process is ended from outside (Task Manager, taskkill /f, TerminateProcess)
// while the fan is under manual control, when no code of ours can run here.
//
// The two share one word. The program marks it before each write of 0x9130;
// the guardian, woken by the program's end, writes 0 only if the word says a
// hand-back is owed or was under way. So the program's own hand-back and the
// guardian's never both happen, except when the kill lands in the instant
// between the program's write of 0 and its marking it done: then 0 is
// written twice, never zero times.
#pragma once

#include <windows.h>

enum FanGuardState : LONG {
    kFanGuardIdle = 0,         // nothing owed: automatic mode, or handed back
    kFanGuardOwed = 1,         // manual mode: a write of 0 is owed
    kFanGuardHandingBack = 2,  // the program is writing 0 now
};

// Starts the guardian for this process, which writes with the index triple of
// `bPlatformType`. False, with a debug-output line, when it could not; the
// program then works as before, on its own hand-back.
bool StartFanGuardian(BYTE bPlatformType);
// Before 0x9130 = 1.
void FanGuardManualOn();
// Around 0x9130 = 0.
void FanGuardHandingBack();
void FanGuardHandedBack();

// The guardian's side, in VorlaneGuard.exe.
int RunFanGuardian(const char* pszCommandLine);
