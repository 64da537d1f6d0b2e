// What Vorlane.exe and its guardian, VorlaneGuard.exe, agree on.
//
// The guardian is a small process of ours that hands the fan back if the
// program is ended from outside (Task Manager, taskkill /f, TerminateProcess)
// while the fan is under manual control, when no code of the program can run.
//
// The two share one word. The program marks it before each write of 0x9130;
// the guardian, woken by the program's end, writes 0 only if the word says a
// hand-back is owed or was under way. So the program's own hand-back and the
// guardian's never both happen, except when the kill lands in the instant
// between the program's write of 0 and its marking it done: then 0 is
// written twice, never zero times.
//
// The fan is one, however many copies of the program run. Whoever may write
// 0x9130 holds the session's fan lock: a copy from before its write of 1
// until after its hand-back, a guardian around its write of 0. A guardian
// whose program has died writes only if it can take the lock at once: if
// another copy holds it, that copy has taken the fan since and a late 0 would
// overtake its 1.
#pragma once

#include <windows.h>

#include <string>

enum FanGuardState : LONG {
    kFanGuardIdle = 0,         // nothing owed: automatic mode, or handed back
    kFanGuardOwed = 1,         // manual mode: a write of 0 is owed
    kFanGuardHandingBack = 2,  // the program is writing 0 now
};

struct FanGuardWord {
    volatile LONG nState;       // a FanGuardState
    volatile LONG nWatcherPid;  // set by the watcher once it is ready; 0 before
};

// Local\: one lock per logon session, where the EC's users are.
const wchar_t kFanLockName[] = L"Local\\VorlaneFanControl";
const wchar_t kGuardianExe[] = L"VorlaneGuard.exe";

// Command line: "<guardian>" detach|watch <process> <mapping> <platform> "<WrRdIO.dll>"
const wchar_t kGuardModeDetach[] = L"detach";
const wchar_t kGuardModeWatch[] = L"watch";
const int kGuardArgCount = 6;

// The guardian reads its write back and tries again this often before it
// gives up: it is the last chance the fan has.
const int kGuardWriteAttempts = 3;

// Starts `pszExe` with `pszArgs`, no window, no busy cursor, handing it only
// the two inheritable handles, outside the caller's job where the job allows.
// The new process's handle, or null (GetLastError tells why).
HANDLE StartGuardProcess(const wchar_t* pszExe, const wchar_t* pszArgs, HANDLE hProcess,
                         HANDLE hMap);

// One debug-output line, "<who>: <text> (error <last error>)": the guardian
// reports nothing to the user, so this is all a failure leaves.
void GuardTrace(const char* pszWho, const char* pszText);
