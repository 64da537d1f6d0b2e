// One EC read through the stand-in WrRdIO.dll: the program's own read of the
// CPU temperature, with the simulated EC's model running.
#include <windows.h>

#include <vector>

#include "bench/BenchCommon.h"
#include "ec/EcAccess.h"
#include "ec/EcProtocol.h"
#include "tests/common/Harness.h"

namespace {

const int kRounds = 20, kPerRound = 200;

void ReadCpuTemp() {
    ReadEcRegister(kRegCpuTemp);
}

}  // namespace

int main() {
    UseOwnSimulatedEc();
    WrSimReset(1);
    // The first call maps the shared register file.
    ReadCpuTemp();

    std::vector<double> samples;
    for (int r = 0; r < kRounds; ++r) {
        for (int i = 0; i < kPerRound; ++i) {
            double t0 = bench::NowUs();
            ReadCpuTemp();
            samples.push_back(bench::NowUs() - t0);
        }
        // The model advances from elapsed time: let some pass, as between ticks.
        ::Sleep(5);
    }
    bench::TimeRow("EC library call: GetRegisterValue through WrRdIO.dll (simulated EC)",
                   bench::Summarize(samples));
    return 0;
}
