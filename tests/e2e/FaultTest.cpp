// A failing or slow EC library against the real program: whatever a read
// returns is shown as the program's rules say, the program keeps sampling, and
// Exit still hands the fan back in time.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/Harness.h"

namespace {

// Each fan channel: its radio button and its tachometer registers.
struct Channel {
    int radio;
    WORD high, low;
};
const Channel kChannels[] = {{1050, 0x1821, 0x1820}, {1051, 0x181F, 0x181E}};

const WORD kManualMode = 0x9130;

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnSimulatedEc();
        WrSimReset(4);
        WrSimFreeze(TRUE);
        WrSimLogClear();
    }
    void TearDown() override {
        // The next test must not inherit a slow or failing EC.
        WrSimSetDelay(0);
        WrSimClearFaults();
    }
    void Start() {
        app.reset(new VorlaneProcess(dir));
        ASSERT_NE(app->WaitForMainWindow(), nullptr);
    }
    bool Running() const { return ::WaitForSingleObject(app->Handle(), 0) == WAIT_TIMEOUT; }
    size_t CallCount() const { return CallsOf(app->Pid()).size(); }
    // Waits for a fan-speed phase after call `from` that read `high` then
    // `low` and got exactly these results, and for the call after it: the
    // program has one thread, so by then that tick has updated the fields.
    bool WaitForTachRead(WORD high, int highResult, WORD low, int lowResult, size_t from) {
        return WaitFor(
            [&] {
                std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
                for (size_t i = from; i + 2 < calls.size(); ++i) {
                    if (Reg(calls[i]) == high && calls[i].result == highResult &&
                        Reg(calls[i + 1]) == low && calls[i + 1].result == lowResult) {
                        return true;
                    }
                }
                return false;
            },
            15000);
    }

    struct TachCase {
        int high, low;
        const char* shown;
    };
    // On each channel and for each case: `put` gives the tachometer registers
    // the pair, and the fan field shows what the program made of it.
    template <class Put>
    void CheckTachCases(const std::vector<TachCase>& cases, Put put) {
        for (const auto& ch : kChannels) {
            app->CheckRadio(ch.radio);
            for (const TachCase& c : cases) {
                SCOPED_TRACE(std::to_string(ch.radio) + ": " + std::to_string(c.high) + ", " +
                             std::to_string(c.low));
                size_t from = CallCount();
                put(ch.high, c.high);
                put(ch.low, c.low);
                ASSERT_TRUE(WaitForTachRead(ch.high, c.high, ch.low, c.low, from));
                EXPECT_EQ(app->Text(1003), c.shown);
            }
            ASSERT_TRUE(Running());
        }
    }

    InstallDir dir;
    std::unique_ptr<VorlaneProcess> app;
};

std::string Decimal(int value) {
    return std::to_string(value);
}

TEST_F(FaultTest, TemperatureAndDutyFieldsShowWholeResultsForEveryRegister) {
    Start();
    struct Round {
        int cpu, env, duty;
    };
    // Above a byte, negative, the failure value and the extremes of an int;
    // each field changes from round to round, so every round needs new reads.
    const Round kRounds[] = {{256, 65535, 300},
                             {INT_MAX, 1000000, 511},
                             {WRSIM_FAILURE_VALUE, -2, -128},
                             {INT_MIN, -255, WRSIM_FAILURE_VALUE},
                             {-1000, WRSIM_FAILURE_VALUE, INT_MIN}};
    for (const Round& r : kRounds) {
        SCOPED_TRACE(Decimal(r.cpu) + " " + Decimal(r.env) + " " + Decimal(r.duty));
        WrSimSetFault(0x9118, r.cpu);
        WrSimSetFault(0x9115, r.env);
        WrSimSetFault(0x1803, r.duty);
        // The other channel's duty must not show while PWM0 is selected.
        WrSimSetFault(0x1805, 77);
        EXPECT_TRUE(WaitFor(
            [&] {
                return app->Text(1001) == Decimal(r.cpu) && app->Text(1002) == Decimal(r.env) &&
                       app->Text(1004) == Decimal(r.duty);
            },
            15000))
            << app->Text(1001) << " " << app->Text(1002) << " " << app->Text(1004);
        ASSERT_TRUE(Running());
    }

    app->CheckRadio(1051);
    const int kPwm4Duties[] = {256, WRSIM_FAILURE_VALUE, INT_MAX, -77};
    for (int duty : kPwm4Duties) {
        WrSimSetFault(0x1803, 5);
        WrSimSetFault(0x1805, duty);
        EXPECT_TRUE(WaitFor([&] { return app->Text(1004) == Decimal(duty); }, 15000))
            << "PWM4 duty " << duty << " shows " << app->Text(1004);
    }
    EXPECT_TRUE(Running());
}

TEST_F(FaultTest, TachometerKeepsOnlyTheLowByteOfEachFaultyResult) {
    Start();
    CheckTachCases(
        {
            {0x304, 0x136, "2000"},                           // 0x04, 0x36: count 1078
            {WRSIM_FAILURE_VALUE, WRSIM_FAILURE_VALUE, "0"},  // 0xFF, 0xFF: beyond range
            {0x100, 0x101, "9999"},                           // 0x00, 0x01: count 1
            {0, WRSIM_FAILURE_VALUE, "8455"},                 // count 255
            {-252, -202, "2000"},                             // 0x..04, 0x..36
            {INT_MIN, 0x180, "16845"},                        // 0x00, 0x80: count 128
            {0x100, 0x17F, "9999"},                           // count 127
            {0x13F, INT_MAX, "131"},                          // 0x3F, 0xFF: count 16383
            {0x7FFFFF40, 0x100, "0"},                         // 0x40, 0x00: count 16384
            {0x1000, -256, "0"},                              // 0x00, 0x00: count 0
        },
        WrSimSetFault);
}

TEST_F(FaultTest, TachometerRegisterExtremesOnBothChannels) {
    Start();
    // Counts 0, 0xFFFF, 1 and 0x7F, as the registers hold them.
    CheckTachCases(
        {{0x00, 0x00, "0"}, {0xFF, 0xFF, "0"}, {0x00, 0x01, "9999"}, {0x00, 0x7F, "9999"}},
        [](WORD reg, int value) { WrSimPoke(reg, static_cast<unsigned>(value)); });
}

TEST_F(FaultTest, SlowEcKeepsSamplingAndExitInManualModeEndsWithinTwoSeconds) {
    WrSimSetDelay(200);
    Start();
    // Each call now takes 200 ms; a cycle of five calls still fits in a few seconds.
    size_t before = CallCount();
    ASSERT_TRUE(WaitForCalls(app->Pid(), before + 10, 30000)) << "sampling stalled";
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    EXPECT_EQ(Reg(calls[0]), 0x9118);

    app->Click(1041);
    ASSERT_EQ(WrSimPeek(kManualMode), 1);
    // Sampling goes on in manual mode too.
    size_t manualFrom = CallCount();
    ASSERT_TRUE(WaitForCalls(app->Pid(), manualFrom + 4, 30000));

    size_t exitFrom = CallCount();
    DWORD start = ::GetTickCount();
    ::PostMessageA(app->Item(1006), BM_CLICK, 0, 0);
    bool ended = app->WaitForExit(2000);
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_TRUE(ended) << "still running " << elapsed << " ms after Exit";
    if (!ended) app->WaitForExit(20000);
    EXPECT_EQ(WrSimPeek(kManualMode), 0);
    calls = CallsOf(app->Pid());
    ASSERT_GT(calls.size(), exitFrom);
    const WRSIM_CALL& last = calls.back();
    EXPECT_EQ(last.isWrite, 1u);
    EXPECT_EQ(Reg(last), kManualMode);
    EXPECT_EQ(last.args[4], 0);
}

}  // namespace
