#include "ec/EcAccess.h"

#include "app/Globals.h"
#include "ec/EcProtocol.h"

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

int ReadEcRegister(BYTE bHigh, BYTE bLow) {
    EcIndexTriple t = EcTripleFor(g_bPlatformType);
    return GetRegisterValue(kEcPortCmd, kEcPortData, bHigh, bLow, t.b1, t.b2, t.b3, kEcReadConst1,
                            kEcReadConst2);
}

int WriteEcRegister(BYTE bHigh, BYTE bLow, BYTE bValue) {
    EcIndexTriple t = EcTripleFor(g_bPlatformType);
    return SetRegisterValue(kEcPortCmd, kEcPortData, bHigh, bLow, bValue, t.b1, t.b2, t.b3,
                            kEcWriteConst1, kEcWriteConst2);
}
