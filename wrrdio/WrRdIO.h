// The two calls every EC library of this family exports. The library widens
// each argument to 32 bits and uses only the low 8, so a caller that declares
// them as BYTE and one that pushes garbage in the upper bits both work.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Returns the byte at register (high << 8 | low), zero-extended, or
// WRSIM_FAILURE_VALUE when the ports are not 108, 104, the index triple not
// 6, 7, 8 or 0, 1, 2, or the closing pair not 1, 1.
int __stdcall GetRegisterValue(DWORD port1, DWORD port2, DWORD high, DWORD low, DWORD index1,
                               DWORD index2, DWORD index3, DWORD const1, DWORD const2);

// Stores `value` at register (high << 8 | low); returns 0, or
// WRSIM_FAILURE_VALUE when the ports, the triple or the closing pair (1, 2)
// are not the protocol's, and then changes nothing.
int __stdcall SetRegisterValue(DWORD port1, DWORD port2, DWORD high, DWORD low, DWORD value,
                               DWORD index1, DWORD index2, DWORD index3, DWORD const1,
                               DWORD const2);

#ifdef __cplusplus
}
#endif
