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
// The fan is one per machine, however many copies of the program run and in
// however many logon sessions. Whoever may write 0x9130 holds the machine's
// fan lock: a copy from before its write of 1 until after its hand-back, a
// guardian around its write of 0. A guardian whose program has died writes
// only if it can take the lock at once: if another copy holds it, that copy
// has taken the fan since and a late 0 would overtake its 1. The guardian
// gets the lock as a handle from its program, never by name.
#pragma once

#include <windows.h>

#include <string>

enum FanGuardState : LONG {
    kFanGuardIdle = 0,         // nothing owed: automatic mode, or handed back
    kFanGuardOwed = 1,         // manual mode: a write of 0 is owed
    kFanGuardHandingBack = 2,  // the program is writing 0 now
};

struct FanGuardWord {
    volatile LONG nState;  // a FanGuardState
    // Set by the watcher once it is ready, after its creation time below; 0
    // before. A process id names a process only while some handle to it is
    // open: the creation time tells a reused id from the watcher.
    volatile LONG nWatcherPid;
    // Set by a watcher that could not get ready, just before it ends: the
    // system's error code. The program then need not wait for it.
    volatile LONG nWatcherError;
    volatile LONG nWatcherCreatedLow;
    volatile LONG nWatcherCreatedHigh;
};

// Global\: the EC is one per machine, and a copy in another logon session
// (fast user switching, a remote desktop) must see the same lock. Any process
// may create a mutex or event in Global\ without rights, so the program
// trusts the name only when the object is owned by Administrators or SYSTEM:
// a process can make an object's owner only a group of its token that carries
// SE_GROUP_OWNER, which the Administrators group has only in an elevated
// token. The descriptor lets nobody else open it, and so nobody else wait on
// it and be handed it abandoned.
const wchar_t kFanLockName[] = L"Global\\VorlaneFanControl";
const wchar_t kFanLockSecurity[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";
const wchar_t kGuardianExe[] = L"VorlaneGuard.exe";

// Command line: "<guardian>" detach|watch <process> <mapping> <lock> <platform> "<WrRdIO.dll>"
// <lock> is 0 when the program has no fan lock to share.
const wchar_t kGuardModeDetach[] = L"detach";
const wchar_t kGuardModeWatch[] = L"watch";
const int kGuardArgCount = 7;

// The guardian reads its write back and tries again this often before it
// gives up: it is the last chance the fan has.
const int kGuardWriteAttempts = 3;

// Starts `pszExe` with `pszArgs`, no window, no busy cursor, handing it only
// the `nHandles` inheritable handles given (null ones left out), outside the
// caller's job where the job allows. The new process's handle, or null
// (GetLastError tells why).
HANDLE StartGuardProcess(const wchar_t* pszExe, const wchar_t* pszArgs, const HANDLE* pHandles,
                         size_t nHandles);

// One debug-output line, "<who>: <text> (error <last error>)": the guardian
// reports nothing to the user, so this is all a failure leaves.
void GuardTrace(const char* pszWho, const char* pszText);
