// Cost of one EC call through the stand-in WrRdIO.dll: a read with the model
// running, a read while frozen (lock and log only), a write, and a read with
// the text trace on. Prints the median of each in microseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "WrRdIO.h"
#include "WrRdIOSim.h"

namespace {

double Now() {
    LARGE_INTEGER freq, count;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1e6 / static_cast<double>(freq.QuadPart);
}

template <class F>
double MedianUs(F step, int nRuns = 2000) {
    std::vector<double> times;
    for (int i = 0; i < nRuns; ++i) {
        double t0 = Now();
        step();
        times.push_back(Now() - t0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void ReadCpuTemp() {
    GetRegisterValue(108, 104, 0x91, 0x18, 6, 7, 8, 1, 1);
}

}  // namespace

int main() {
    char szName[64];
    std::snprintf(szName, sizeof(szName), "Local\\VorlaneBenchEC-%lu", ::GetCurrentProcessId());
    ::SetEnvironmentVariableA("WRRDIO_SIM_NAME", szName);
    ::SetEnvironmentVariableA("WRRDIO_TRACE", NULL);
    WrSimReset(1);

    std::printf("GetRegisterValue, model running: %8.2f us\n", MedianUs(ReadCpuTemp));
    WrSimFreeze(TRUE);
    std::printf("GetRegisterValue, frozen:        %8.2f us\n", MedianUs(ReadCpuTemp));
    std::printf("SetRegisterValue, frozen:        %8.2f us\n",
                MedianUs([] { SetRegisterValue(108, 104, 0x91, 0x33, 64, 6, 7, 8, 1, 2); }));
    WrSimFreeze(FALSE);

    char szDir[MAX_PATH], szTrace[MAX_PATH];
    ::GetTempPathA(MAX_PATH, szDir);
    ::GetTempFileNameA(szDir, "wrb", 0, szTrace);
    ::SetEnvironmentVariableA("WRRDIO_TRACE", szTrace);
    std::printf("GetRegisterValue, traced:        %8.2f us\n", MedianUs(ReadCpuTemp, 500));
    ::SetEnvironmentVariableA("WRRDIO_TRACE", NULL);
    ::DeleteFileA(szTrace);
    return 0;
}
