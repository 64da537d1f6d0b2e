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

    const double readingNs = bench::ThreadCpuReadingNs();
    std::vector<double> samples, cpu;
    for (int r = 0; r < kRounds; ++r) {
        for (int i = 0; i < kPerRound; ++i) {
            double c0 = bench::ThreadCpuNsNow();
            double t0 = bench::NowUs();
            GetRegisterValue(108, 104, 0x91, 0x18, 6, 7, 8, 1, 1);
            samples.push_back(bench::NowUs() - t0);
            double c1 = bench::ThreadCpuNsNow();
            if (c0 >= 0 && c1 >= 0) cpu.push_back((c1 - c0 - readingNs) / 1000);
        }
        // The model advances from elapsed time: let some pass, as between ticks.
        ::Sleep(5);
    }
    bench::TimeRow("EC library call: GetRegisterValue through WrRdIO.dll (simulated EC)",
                   bench::Summarize(samples));
    if (!cpu.empty()) {
        bench::TimeRow("EC library call: CPU time of this thread (Linux kernel's count)",
                       bench::Summarize(cpu));
    }
    return 0;
}
