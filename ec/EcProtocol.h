// What every call into WrRdIO.dll carries besides the register: the EC's
// second host interface (command/status port, then data port) and the index
// triple of the notebook's platform variant.
#pragma once

#include <windows.h>

const BYTE kEcPortCmd = 108;
const BYTE kEcPortData = 104;

struct EcIndexTriple {
    BYTE b1, b2, b3;
};

// 1: index triple 0,1,2; 0: 6,7,8.
inline EcIndexTriple EcTripleFor(BYTE bPlatformType) {
    return bPlatformType ? EcIndexTriple{0, 1, 2} : EcIndexTriple{6, 7, 8};
}
