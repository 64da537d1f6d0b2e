// Test and tool exports of the stand-in WrRdIO.dll. Vorlane.exe never imports
// these; tests and tools load them with LoadLibrary/GetProcAddress or link the
// full import library (WrRdIO_full).
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// What a call outside the EC's protocol (ports, index triple, closing pair)
// returns, and the value a reader gets when the library cannot reach its
// register file.
#define WRSIM_FAILURE_VALUE (-1)

// Register file access that bypasses the model, the faults and the trace.
int __stdcall WrSimPeek(unsigned address);                   // 0..255
void __stdcall WrSimPoke(unsigned address, unsigned value);  // low 8 bits stored

// Restores the power-on state (all registers as a cold EC has them, faults and
// delay cleared, freeze off, call log emptied) and seeds the model.
void __stdcall WrSimReset(unsigned seed);

// While frozen the model does not advance: registers hold exactly what was
// poked or written.
void __stdcall WrSimFreeze(BOOL frozen);

// Steps the model by `milliseconds` of simulated time at once, frozen or not,
// so tests can watch minutes of fan and temperature behaviour without waiting.
void __stdcall WrSimAdvance(unsigned milliseconds);

// Reads of `address` (or of every register when address is 0xFFFFFFFF) answer
// `value` instead of the register's byte; a fault on one register wins over
// the fault on all. Writes still store. WrSimClearFaults removes them all.
void __stdcall WrSimSetFault(unsigned address, int value);
void __stdcall WrSimClearFaults(void);

// The next GetRegisterValue call, from whichever process, raises an access
// violation in its caller (a library that crashes), once; later calls answer.
void __stdcall WrSimCrashNextRead(void);

// Every library call sleeps this long before it answers (a slow EC).
void __stdcall WrSimSetDelay(unsigned milliseconds);

// While held, every write of `value` to `address`, from whichever process,
// waits inside the library before it takes effect (a call that takes as long
// as the test wants); a negative value lets them all go. WrSimHeldWrites
// counts the writes that came to wait since the hold was set (a caller that
// dies while it waits still counts).
void __stdcall WrSimHoldWrites(unsigned address, int value);
DWORD __stdcall WrSimHeldWrites(void);

// The next `count` writes to `address` answer as if they took, but store
// nothing (an EC that missed them).
void __stdcall WrSimDropWrites(unsigned address, unsigned count);

// Enters the EC as a call does and never leaves it: a process that then
// ends stands for one killed during a call. Returns whether it got in.
BOOL __stdcall WrSimEnterForGood(void);

// Drives the synthetic workload (0..100 % CPU load); a negative value goes
// back to the host's own load.
void __stdcall WrSimSetLoad(int percent);

// The shared call log: every GetRegisterValue/SetRegisterValue call of every
// process, oldest first. WrSimLogCount counts calls since the last clear
// (it keeps counting past the ring's capacity); WrSimLogGet copies entry
// `index` (0 = oldest still held) and returns FALSE past the end.
typedef struct WRSIM_CALL {
    DWORD sequence;   // 0, 1, 2, ... since the last clear
    DWORD tickMs;     // GetTickCount() at the call
    DWORD processId;  // caller's process
    DWORD isWrite;    // 0 = GetRegisterValue, 1 = SetRegisterValue
    DWORD argCount;   // 9 or 10
    BYTE args[10];    // the arguments as received (low 8 bits)
    BYTE pad[2];
    int result;
} WRSIM_CALL;

void __stdcall WrSimLogClear(void);
DWORD __stdcall WrSimLogCount(void);
BOOL __stdcall WrSimLogGet(DWORD index, WRSIM_CALL* call);

#ifdef __cplusplus
}
#endif
