// One sampling tick of the main window: the real COsterbyDlg, run modally in
// this process, gets WM_TIMER from its own thread, which runs OnTimer as the
// message loop would (UpdateReadings, then AppendValue). Between ticks the
// simulated EC is moved on by one sampling period and the window's pending
// messages are handled, so each tick finds what a tick of the running
// program finds: new values, and fields that may need new text.
#include <windows.h>

#include <string>
#include <vector>

#include "bench/BenchCommon.h"
#include "bench/BenchDialog.h"
#include "tests/common/Harness.h"
#include "ui/resource.h"
#include "wrrdio/WrRdIOSim.h"

namespace {

const int kTicks = 2000;
const UINT kSamplePeriodMs = 250;

class CTickBench : public CBenchDialog {
  public:
    std::vector<double> m_ticks;
    // µs of this thread's CPU time: [0] when no field's text changed, [1] when one did
    std::vector<double> m_tickCpu[2], m_afterCpu[2];

  protected:
    void Run() override {
        const double readingNs = bench::ThreadCpuReadingNs();
        bool bChanged = false;
        for (int i = 0; i < kTicks; ++i) {
            WrSimAdvance(kSamplePeriodMs);
            // What the last tick left: the repaints of the fields it changed.
            double c0 = bench::ThreadCpuNsNow();
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
            double c1 = bench::ThreadCpuNsNow();
            const std::string before = Fields();
            double t0 = bench::NowUs();
            ::SendMessageA(m_hWnd, WM_TIMER, IDT_SAMPLE, 0);
            m_ticks.push_back(bench::NowUs() - t0);
            double c2 = bench::ThreadCpuNsNow();
            if (c0 >= 0 && c2 >= 0) {
                if (i > 0) m_afterCpu[bChanged].push_back((c1 - c0 - readingNs) / 1000);
                bChanged = Fields() != before;
                m_tickCpu[bChanged].push_back((c2 - c1 - readingNs) / 1000);
            }
        }
    }

    std::string Fields() const {
        std::string s;
        for (const CString* p : {&m_strCpuTemp, &m_strEnvTemp, &m_strFanSpeed, &m_strPwmDuty}) {
            s += p->GetString();
            s += '|';
        }
        return s;
    }
};

}  // namespace

int main() {
    UseOwnSimulatedEc();
    WrSimReset(1);
    CTickBench dlg;
    dlg.RunModal();
    if (dlg.m_ticks.size() != static_cast<size_t>(kTicks)) {
        bench::Note("bench_tick: %u ticks measured, wanted %d",
                    static_cast<unsigned>(dlg.m_ticks.size()), kTicks);
        return 1;
    }
    DWORD nCalls = WrSimLogCount();
    bench::TimeRow(
        "Sampling tick: WM_TIMER to the real COsterbyDlg (dispatch, UpdateReadings, AppendValue)",
        bench::Summarize(dlg.m_ticks));
    const char* const kCase[2] = {"no field's text changed", "a field's text changed"};
    for (int changed = 0; changed < 2; ++changed) {
        if (dlg.m_tickCpu[changed].empty()) continue;
        bench::TimeRow(bench::Format("Sampling tick, CPU time (Linux kernel's clock for this "
                                     "thread): %s",
                                     kCase[changed]),
                       bench::Summarize(dlg.m_tickCpu[changed]));
        bench::TimeRow(bench::Format("After such a tick: the queued messages it left handled "
                                     "(repaints), CPU time: %s",
                                     kCase[changed]),
                       bench::Summarize(dlg.m_afterCpu[changed]));
    }
    bench::Note(
        "bench_tick: %d ticks in the program's own dialog, %lu EC calls (%.2f per tick); "
        "the EC moved on %u ms before each tick",
        kTicks, static_cast<unsigned long>(nCalls), static_cast<double>(nCalls) / kTicks,
        kSamplePeriodMs);
    return 0;
}
