// The two EC calls. Each one answers from the simulated EC in the shared
// section, is appended to the shared call log and, when WRRDIO_TRACE names a
// file, to a text trace. With WRRDIO_SIM_MOVING set (to anything but 0), a
// read never answers what the same register answered this process last, and
// the model no longer follows the host's load.
#include "WrRdIO.h"

#include <stdio.h>

#include "EcModel.h"
#include "SimSection.h"

using namespace wrsim;

namespace {

const BYTE kCommandPort = 108;  // 0x6C, the EC's second host interface
const BYTE kDataPort = 104;     // 0x68
const DWORD kReadArgs = 9;
const DWORD kWriteArgs = 10;

// The EC answers only the calls of its protocol: its two ports, one of the
// two platform variants' index triples, and the closing pair of a read (1, 1)
// or a write (1, 2). Anything else is a caller's mistake, and fails.
bool IsProtocolCall(const BYTE* args, DWORD count) {
    const BYTE* tail = args + count - 5;  // the triple and the closing pair
    const bool bTriple = (tail[0] == 6 && tail[1] == 7 && tail[2] == 8) ||
                         (tail[0] == 0 && tail[1] == 1 && tail[2] == 2);
    return args[0] == kCommandPort && args[1] == kDataPort && bTriple && tail[3] == 1 &&
           tail[4] == (count == kWriteArgs ? 2 : 1);
}

// Looked up once per call, and wide: under Wine the ANSI lookup converts the
// name and the value through the heap, most of what a call cost when cold.
bool MovingReads() {
    WCHAR sz[2];
    const DWORD n = GetEnvironmentVariableW(L"WRRDIO_SIM_MOVING", sz, 2);
    return n != 0 && !(n == 1 && sz[0] == L'0');
}

// An EC as busy as can be, for benchmarks: the answer moves on by one where
// the register still holds what it last answered. Kept per process, and not
// in the register file, so that the model and every other reader see the
// EC as it is. Callers hold the EC's mutex.
BYTE MovedOn(WORD address, BYTE value) {
    static WORD s_lastAnswer[kRegisterCount];  // the last answer + 1; 0 before the first
    if (s_lastAnswer[address] == value + 1) ++value;
    s_lastAnswer[address] = static_cast<WORD>(value + 1);
    return value;
}

int ReadRegister(const SIM_SHARED& sim, WORD address, bool bMoving) {
    if (sim.faultOn[address]) return sim.faultValue[address];
    if (sim.bFaultAll) return sim.nFaultAllValue;
    return bMoving ? MovedOn(address, sim.regs[address]) : sim.regs[address];
}

void AppendToLog(SIM_SHARED& sim, const BYTE* args, DWORD count, int result) {
    WRSIM_CALL& entry = sim.log[sim.dwLogCount % kLogCapacity];
    ZeroMemory(&entry, sizeof(entry));
    entry.sequence = sim.dwLogCount++;
    entry.tickMs = GetTickCount();
    entry.processId = GetCurrentProcessId();
    entry.isWrite = count == kWriteArgs;
    entry.argCount = count;
    CopyMemory(entry.args, args, count);
    entry.result = result;
}

// One line per call; the file is opened for appending only, and the callers
// hold the EC's mutex, so lines from several processes never interleave.
void AppendToTrace(const BYTE* args, DWORD count, int result) {
    WCHAR szPath[MAX_PATH];
    const DWORD nPath = GetEnvironmentVariableW(L"WRRDIO_TRACE", szPath, MAX_PATH);
    if (nPath == 0 || nPath >= MAX_PATH) return;

    char szLine[160];
    int n =
        snprintf(szLine, sizeof(szLine), "%lu pid=%lu %s(", GetTickCount(), GetCurrentProcessId(),
                 count == kWriteArgs ? "SetRegisterValue" : "GetRegisterValue");
    for (DWORD i = 0; i < count; ++i)
        n += snprintf(szLine + n, sizeof(szLine) - n, i ? ",%u" : "%u", args[i]);
    n += snprintf(szLine + n, sizeof(szLine) - n, ") = %d\n", result);

    HANDLE hFile = CreateFileW(szPath, FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(hFile, szLine, n, &written, NULL);
    CloseHandle(hFile);
}

// A write that a test holds stays inside the library, before it takes
// effect, until the test lets it go.
void WaitWhileHeld(SIM_SHARED* pUnlocked, const BYTE* args, DWORD count) {
    if (pUnlocked == NULL || count != kWriteArgs || !pUnlocked->bHoldWrites ||
        MAKEWORD(args[3], args[2]) != pUnlocked->dwHoldAddress ||
        args[4] != pUnlocked->nHoldValue) {
        return;
    }
    InterlockedIncrement(&pUnlocked->nHeldWrites);
    while (*static_cast<volatile BOOL*>(&pUnlocked->bHoldWrites)) Sleep(5);
}

int CallEc(const BYTE* args, DWORD count) {
    // A slow EC keeps the caller waiting, but not the other processes.
    SIM_SHARED* pUnlocked = SharedUnlocked();
    WaitWhileHeld(pUnlocked, args, count);
    const DWORD delay = pUnlocked ? pUnlocked->dwDelayMs : 0;
    if (delay) Sleep(delay);

    const bool bMoving = MovingReads();
    int result = WRSIM_FAILURE_VALUE;
    bool crash = false;
    {
        CSimLock sim;
        if (sim) {
            if (count == kReadArgs && sim->bCrashNextRead) {
                sim->bCrashNextRead = FALSE;
                crash = true;
            } else if (IsProtocolCall(args, count)) {
                // The host's load is read through the system's counters
                // (under Wine, parsing /proc/stat), which would charge the
                // caller more than a read costs; the moving EC is for
                // measuring the caller, and its answers move regardless.
                AdvanceToNow(*sim, !bMoving);
                const WORD address = MAKEWORD(args[3], args[2]);
                if (count == kWriteArgs) {
                    // A lost write answers like one that took.
                    if (sim->dwDropCount != 0 && address == sim->dwDropAddress) {
                        --sim->dwDropCount;
                    } else {
                        sim->regs[address] = args[4];
                    }
                    result = 0;
                } else {
                    result = ReadRegister(*sim, address, bMoving);
                }
            }
            AppendToLog(*sim, args, count, result);
        }
    }
    AppendToTrace(args, count, result);
    // Raised with the EC's lock released, as a crashing library would leave it.
    if (crash) RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, NULL);
    return result;
}

}  // namespace

extern "C" int __stdcall GetRegisterValue(DWORD port1, DWORD port2, DWORD high, DWORD low,
                                          DWORD index1, DWORD index2, DWORD index3, DWORD const1,
                                          DWORD const2) {
    const BYTE args[kReadArgs] = {LOBYTE(port1),  LOBYTE(port2),  LOBYTE(high),
                                  LOBYTE(low),    LOBYTE(index1), LOBYTE(index2),
                                  LOBYTE(index3), LOBYTE(const1), LOBYTE(const2)};
    return CallEc(args, kReadArgs);
}

extern "C" int __stdcall SetRegisterValue(DWORD port1, DWORD port2, DWORD high, DWORD low,
                                          DWORD value, DWORD index1, DWORD index2, DWORD index3,
                                          DWORD const1, DWORD const2) {
    const BYTE args[kWriteArgs] = {LOBYTE(port1),  LOBYTE(port2),  LOBYTE(high),   LOBYTE(low),
                                   LOBYTE(value),  LOBYTE(index1), LOBYTE(index2), LOBYTE(index3),
                                   LOBYTE(const1), LOBYTE(const2)};
    return CallEc(args, kWriteArgs);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // At process exit the system closes everything; only FreeLibrary needs us to.
    if (reason == DLL_PROCESS_DETACH && reserved == NULL) CloseSection();
    return TRUE;
}
