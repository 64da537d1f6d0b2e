// The one home of what the program knows about the EC: its registers, what
// every call into WrRdIO.dll carries besides the register (the EC's second
// host interface, command/status port then data port, the index triple of the
// notebook's platform variant, the two trailing constants), and how a
// tachometer count becomes a fan speed. The program, its guardian, the tests
// and the benchmarks all name these; the simulated EC keeps its own copy.
#pragma once

#include <windows.h>

// EC registers, as 16-bit addresses split into high and low byte on access.
const WORD kRegCpuTemp = 0x9118;
const WORD kRegEnvTemp = 0x9115;
const WORD kRegTachHighPwm0 = 0x1821;
const WORD kRegTachLowPwm0 = 0x1820;
const WORD kRegTachHighPwm4 = 0x181F;
const WORD kRegTachLowPwm4 = 0x181E;
const WORD kRegDutyPwm0 = 0x1803;
const WORD kRegDutyPwm4 = 0x1805;
const WORD kRegManualMode = 0x9130;  // 1: the fan is ours; 0: the EC's own
const WORD kRegManualDutyPwm0 = 0x9133;
const WORD kRegManualDutyPwm4 = 0x916F;

inline BYTE EcHighByte(WORD wReg) {
    return static_cast<BYTE>(wReg >> 8);
}
inline BYTE EcLowByte(WORD wReg) {
    return static_cast<BYTE>(wReg & 0xFF);
}

const BYTE kEcPortCmd = 108;
const BYTE kEcPortData = 104;

// The last two arguments of each call: 1, 1 for a read; 1, 2 for a write.
const BYTE kEcReadConst1 = 1;
const BYTE kEcReadConst2 = 1;
const BYTE kEcWriteConst1 = 1;
const BYTE kEcWriteConst2 = 2;

struct EcIndexTriple {
    BYTE b1, b2, b3;
};

// 1: index triple 0,1,2; 0: 6,7,8.
inline EcIndexTriple EcTripleFor(BYTE bPlatformType) {
    return bPlatformType ? EcIndexTriple{0, 1, 2} : EcIndexTriple{6, 7, 8};
}

// Revolutions per minute for a tachometer count; 0 and 9999 stand for counts
// the tachometer cannot mean.
inline UINT FanSpeedFromCount(UINT nCount) {
    if (nCount == 0 || nCount > 0x3FFF) return 0;
    if (nCount < 0x80) return 9999;
    return 0x20E6DA / nCount;
}
