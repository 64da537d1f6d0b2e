// One EC read through the stand-in WrRdIO.dll, with the arguments the program
// passes for the CPU temperature and the simulated EC's model running.
#include <windows.h>

#include <vector>

#include "WrRdIO.h"
#include "WrRdIOSim.h"
#include "bench/BenchCommon.h"

namespace {

const int kRounds = 20, kPerRound = 200;

}  // namespace

int main() {
    bench::UseOwnSimulatedEc("Lib");
    WrSimReset(1);
    // The first call maps the shared register file.
    GetRegisterValue(108, 104, 0x91, 0x18, 6, 7, 8, 1, 1);

    std::vector<double> samples;
    for (int r = 0; r < kRounds; ++r) {
        for (int i = 0; i < kPerRound; ++i) {
            double t0 = bench::NowUs();
            GetRegisterValue(108, 104, 0x91, 0x18, 6, 7, 8, 1, 1);
            samples.push_back(bench::NowUs() - t0);
        }
        // The model advances from elapsed time: let some pass, as between ticks.
        ::Sleep(5);
    }
    bench::TimeRow("EC library call: GetRegisterValue through WrRdIO.dll (simulated EC)",
                   bench::Summarize(samples));
    return 0;
}
