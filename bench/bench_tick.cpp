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
    // µs: [0] when no field's text changed, [1] when one did
    std::vector<double> m_ticks[2], m_after[2];
    // µs: the data exchange alone, every field showing its text already
    std::vector<double> m_exchanges;

  protected:
    void Run() override {
        bool bChanged = false;
        for (int i = 0; i < kTicks; ++i) {
            WrSimAdvance(kSamplePeriodMs);
            // What the last tick left: the repaints of the fields it changed.
            double t0 = bench::NowUs();
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
            double t1 = bench::NowUs();
            if (i > 0) m_after[bChanged].push_back(t1 - t0);
            const std::string before = Fields();
            ::SendMessageA(m_hWnd, WM_TIMER, IDT_SAMPLE, 0);
            double t2 = bench::NowUs();
            bChanged = Fields() != before;
            m_ticks[bChanged].push_back(t2 - t1);
        }
        for (int i = 0; i < kTicks; ++i) {
            double t0 = bench::NowUs();
            UpdateData(FALSE);
            m_exchanges.push_back(bench::NowUs() - t0);
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
    const size_t nTicks = dlg.m_ticks[0].size() + dlg.m_ticks[1].size();
    if (nTicks != static_cast<size_t>(kTicks)) {
        bench::Note("bench_tick: %u ticks measured, wanted %d", static_cast<unsigned>(nTicks),
                    kTicks);
        return 1;
    }
    const char* const kCase[2] = {"no field's text changed", "a field's text changed"};
    for (int changed = 0; changed < 2; ++changed) {
        bench::TimeRow(bench::Format("Sampling tick: WM_TIMER to the real COsterbyDlg (dispatch, "
                                     "UpdateReadings, AppendValue), %s",
                                     kCase[changed]),
                       bench::Summarize(dlg.m_ticks[changed]));
        bench::TimeRow(bench::Format("After such a tick: the queued messages it left handled "
                                     "(repaints), %s",
                                     kCase[changed]),
                       bench::Summarize(dlg.m_after[changed]));
    }
    bench::TimeRow(
        "Data exchange alone: UpdateData(FALSE) of the real COsterbyDlg, every field showing its "
        "text already",
        bench::Summarize(dlg.m_exchanges));
    DWORD nCalls = WrSimLogCount();
    bench::Note(
        "bench_tick: %d ticks in the program's own dialog, a field's text changed on %.0f %%; "
        "%lu EC calls (%.2f per tick); the EC moved on %u ms before each tick",
        kTicks, 100.0 * dlg.m_ticks[1].size() / kTicks, static_cast<unsigned long>(nCalls),
        static_cast<double>(nCalls) / kTicks, kSamplePeriodMs);
    return 0;
}
