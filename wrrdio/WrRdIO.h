// The two calls every EC library of this family exports. The library widens
// each argument to 32 bits and uses only the low 8, so a caller that declares
// them as BYTE and one that pushes garbage in the upper bits both work.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Returns the byte at register (high << 8 | low), zero-extended, or
// WRSIM_FAILURE_VALUE when the port pair is not 108/104.
int __stdcall GetRegisterValue(DWORD port1, DWORD port2, DWORD high, DWORD low, DWORD index1,
                               DWORD index2, DWORD index3, DWORD const1, DWORD const2);

// Stores `value` at register (high << 8 | low); returns 0, or
// WRSIM_FAILURE_VALUE when the port pair is not 108/104.
int __stdcall SetRegisterValue(DWORD port1, DWORD port2, DWORD high, DWORD low, DWORD value,
                               DWORD index1, DWORD index2, DWORD index3, DWORD const1,
                               DWORD const2);

#ifdef __cplusplus
}
#endif
