// The only way the program reaches the embedded controller.
#pragma once

#include <windows.h>

#include "ec/EcProtocol.h"

// Reads one EC register; the library's result is returned unchanged.
int ReadEcRegister(BYTE bHigh, BYTE bLow);
// Writes one EC register; callers discard the library's result.
int WriteEcRegister(BYTE bHigh, BYTE bLow, BYTE bValue);

// The same, for a register named by its 16-bit address.
inline int ReadEcRegister(WORD wReg) {
    return ReadEcRegister(EcHighByte(wReg), EcLowByte(wReg));
}
inline int WriteEcRegister(WORD wReg, BYTE bValue) {
    return WriteEcRegister(EcHighByte(wReg), EcLowByte(wReg), bValue);
}
