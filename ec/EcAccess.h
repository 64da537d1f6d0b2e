// The only way the program reaches the embedded controller.
#pragma once

#include <windows.h>

// Reads one EC register; the library's result is returned unchanged.
int ReadEcRegister(BYTE bHigh, BYTE bLow);
// Writes one EC register; callers discard the library's result.
int WriteEcRegister(BYTE bHigh, BYTE bLow, BYTE bValue);
