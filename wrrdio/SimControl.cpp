// Controls of the simulated EC for tests and tools. None of them advances the
// model by real time or shows up in the call log or the trace.
#include "WrRdIOSim.h"

#include "EcModel.h"
#include "SimSection.h"

using namespace wrsim;

namespace {

const unsigned kAllRegisters = 0xFFFFFFFF;
// Bounds one call's work under the mutex.
const unsigned kMaxAdvanceMs = 3600 * 1000;

}  // namespace

extern "C" int __stdcall WrSimPeek(unsigned address) {
    CSimLock sim;
    if (!sim || address >= kRegisterCount) return WRSIM_FAILURE_VALUE;
    return sim->regs[address];
}

extern "C" void __stdcall WrSimPoke(unsigned address, unsigned value) {
    CSimLock sim;
    if (sim && address < kRegisterCount) sim->regs[address] = LOBYTE(value);
}

extern "C" void __stdcall WrSimReset(unsigned seed) {
    CSimLock sim;
    if (sim) PowerOn(*sim, seed);
}

extern "C" void __stdcall WrSimFreeze(BOOL frozen) {
    CSimLock sim;
    if (!sim) return;
    // The frozen time never happened for the model.
    if (sim->bFrozen && !frozen) RestartClock(*sim);
    sim->bFrozen = frozen != FALSE;
}

extern "C" void __stdcall WrSimAdvance(unsigned milliseconds) {
    CSimLock sim;
    if (!sim) return;
    if (milliseconds > kMaxAdvanceMs) milliseconds = kMaxAdvanceMs;
    AdvanceBy(*sim, milliseconds / 1000.0);
}

extern "C" void __stdcall WrSimSetFault(unsigned address, int value) {
    CSimLock sim;
    if (!sim) return;
    if (address == kAllRegisters) {
        sim->bFaultAll = TRUE;
        sim->nFaultAllValue = value;
    } else if (address < kRegisterCount) {
        sim->faultOn[address] = 1;
        sim->faultValue[address] = value;
    }
}

extern "C" void __stdcall WrSimClearFaults(void) {
    CSimLock sim;
    if (!sim) return;
    sim->bFaultAll = FALSE;
    ZeroMemory(sim->faultOn, sizeof(sim->faultOn));
}

extern "C" void __stdcall WrSimCrashNextRead(void) {
    CSimLock sim;
    if (sim) sim->bCrashNextRead = TRUE;
}

extern "C" void __stdcall WrSimSetDelay(unsigned milliseconds) {
    CSimLock sim;
    if (sim) sim->dwDelayMs = milliseconds;
}

extern "C" void __stdcall WrSimHoldWrites(unsigned address, int value) {
    CSimLock sim;
    if (!sim) return;
    sim->dwHoldAddress = address & 0xFFFF;
    sim->nHoldValue = value;
    sim->bHoldWrites = value >= 0;
    sim->nHeldWrites = 0;
}

extern "C" DWORD __stdcall WrSimHeldWrites(void) {
    SIM_SHARED* pUnlocked = SharedUnlocked();
    return pUnlocked ? static_cast<DWORD>(pUnlocked->nHeldWrites) : 0;
}

extern "C" void __stdcall WrSimDropWrites(unsigned address, unsigned count) {
    CSimLock sim;
    if (!sim) return;
    sim->dwDropAddress = address & 0xFFFF;
    sim->dwDropCount = count;
}

extern "C" BOOL __stdcall WrSimEnterForGood(void) {
    return EnterForGood();
}

extern "C" void __stdcall WrSimSetLoad(int percent) {
    CSimLock sim;
    if (!sim) return;
    sim->model.nLoadOverride = percent < 0 ? -1 : percent > 100 ? 100 : percent;
}

extern "C" void __stdcall WrSimLogClear(void) {
    CSimLock sim;
    if (sim) sim->dwLogCount = 0;
}

extern "C" DWORD __stdcall WrSimLogCount(void) {
    CSimLock sim;
    return sim ? sim->dwLogCount : 0;
}

extern "C" BOOL __stdcall WrSimLogGet(DWORD index, WRSIM_CALL* call) {
    CSimLock sim;
    if (!sim || call == NULL) return FALSE;
    const DWORD held = sim->dwLogCount < kLogCapacity ? sim->dwLogCount : kLogCapacity;
    if (index >= held) return FALSE;
    *call = sim->log[(sim->dwLogCount - held + index) % kLogCapacity];
    return TRUE;
}
