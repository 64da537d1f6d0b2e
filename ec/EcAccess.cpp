#include "ec/EcAccess.h"

#include "app/Globals.h"

extern "C" {
// WrRdIO.dll, bound at load time. Every argument is a byte: only the low 8
// bits of each count, whatever library stands beside the program.
__declspec(dllimport) int __stdcall GetRegisterValue(BYTE bPortCmd, BYTE bPortData, BYTE bHigh,
                                                     BYTE bLow, BYTE bIndex1, BYTE bIndex2,
                                                     BYTE bIndex3, BYTE bConst1, BYTE bConst2);
__declspec(dllimport) int __stdcall SetRegisterValue(BYTE bPortCmd, BYTE bPortData, BYTE bHigh,
                                                     BYTE bLow, BYTE bValue, BYTE bIndex1,
                                                     BYTE bIndex2, BYTE bIndex3, BYTE bConst1,
                                                     BYTE bConst2);
}

namespace {

// The EC's second host interface: command/status port, then data port.
const BYTE kPortCmd = 108;
const BYTE kPortData = 104;

struct IndexTriple {
    BYTE b1, b2, b3;
};

IndexTriple PlatformTriple() {
    return g_bPlatformType ? IndexTriple{0, 1, 2} : IndexTriple{6, 7, 8};
}

}  // namespace

int ReadEcRegister(BYTE bHigh, BYTE bLow) {
    IndexTriple t = PlatformTriple();
    return GetRegisterValue(kPortCmd, kPortData, bHigh, bLow, t.b1, t.b2, t.b3, 1, 1);
}

int WriteEcRegister(BYTE bHigh, BYTE bLow, BYTE bValue) {
    IndexTriple t = PlatformTriple();
    return SetRegisterValue(kPortCmd, kPortData, bHigh, bLow, bValue, t.b1, t.b2, t.b3, 1, 2);
}
