// Layout of the shared section behind the simulated EC. Every process that
// loads the library maps the same bytes, so nothing here may hold a pointer or
// a handle, and the layout version must change whenever the layout does.
#pragma once

#include <windows.h>

#include "WrRdIOSim.h"

namespace wrsim {

const DWORD kSectionMagic = 0x43455356;  // "VSEC"
const DWORD kLayoutVersion = 4;
const DWORD kRegisterCount = 0x10000;
const DWORD kLogCapacity = 4096;
const int kFanCount = 2;  // PWM0, PWM4

// The registers the EC firmware reads or publishes. Kept apart from the
// program's ec/EcProtocol.h on purpose: an independent model catches a wrong
// constant in the program.
enum : WORD {
    kRegDutyPwm0 = 0x1803,
    kRegDutyPwm4 = 0x1805,
    kRegTachPwm4Low = 0x181E,
    kRegTachPwm4High = 0x181F,
    kRegTachPwm0Low = 0x1820,
    kRegTachPwm0High = 0x1821,
    kRegChipId1 = 0x2000,
    kRegChipId2 = 0x2001,
    kRegAmbientTemp = 0x9115,
    kRegCpuTemp = 0x9118,
    kRegManualMode = 0x9130,
    kRegManualDutyPwm0 = 0x9133,
    kRegManualDutyPwm4 = 0x916F,
};

struct MODEL_STATE {
    LONGLONG llLastCounter;     // QueryPerformanceCounter at the last real-time advance
    LONGLONG llLastLoadSample;  // ... and at the last look at the host's CPU times
    ULONGLONG ullHostIdle, ullHostBusy;
    BOOL bHostLoadKnown;
    int nLoadOverride;                          // 0..100, or -1 for the host's own load
    double dHostLoad;                           // 0..1
    double dLoad;                               // smoothed workload driving the CPU, 0..1
    double dSyntheticLoad, dSyntheticLoadLeft;  // value and seconds until the next pick
    double dCpuTemp, dAmbientTemp;
    double dAmbientTarget, dAmbientTargetLeft;
    double dRpm[kFanCount];
    BYTE nAutoDuty;  // the firmware's own curve, with hysteresis
    BYTE nPublishedCpuTemp, nPublishedAmbientTemp;
    BYTE pad;
    DWORD dwRandom;  // xorshift32 state, never 0
};

struct SIM_SHARED {
    DWORD dwMagic;
    DWORD dwVersion;
    // The process inside the EC (its id, high, and the low half of its start
    // time), or 0: see CSimLock.
    volatile LONGLONG llOwner;
    BYTE regs[kRegisterCount];
    MODEL_STATE model;
    BOOL bFrozen;
    DWORD dwDelayMs;
    BOOL bFaultAll;
    int nFaultAllValue;
    BOOL bCrashNextRead;
    BOOL bHoldWrites;  // writes of nHoldValue to dwHoldAddress wait while set
    DWORD dwHoldAddress;
    int nHoldValue;
    volatile LONG nHeldWrites;  // writes that came to wait since the hold was set
    DWORD dwDropAddress;        // the next dwDropCount writes there are lost
    DWORD dwDropCount;
    BYTE faultOn[kRegisterCount];
    int faultValue[kRegisterCount];
    DWORD dwLogCount;  // calls since the last clear; entry n sits in slot n % kLogCapacity
    WRSIM_CALL log[kLogCapacity];
};

}  // namespace wrsim
