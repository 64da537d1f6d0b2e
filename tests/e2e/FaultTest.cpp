// A failing or slow EC library against the real program: whatever a read
// returns is shown as the program's rules say, the program keeps sampling, and
// Exit still hands the fan back in time.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "ec/EcProtocol.h"
#include "tests/common/EcTest.h"
#include "ui/resource.h"

namespace {

using FaultTest = EcTest;

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
        WrSimSetFault(kRegCpuTemp, r.cpu);
        WrSimSetFault(kRegEnvTemp, r.env);
        WrSimSetFault(kRegDutyPwm0, r.duty);
        // The other channel's duty must not show while PWM0 is selected.
        WrSimSetFault(kRegDutyPwm4, 77);
        EXPECT_TRUE(WaitFor(
            [&] {
                return app->Text(IDC_CPU_TEMP) == Decimal(r.cpu) &&
                       app->Text(IDC_ENV_TEMP) == Decimal(r.env) &&
                       app->Text(IDC_PWM_DUTY) == Decimal(r.duty);
            },
            15000))
            << app->Text(IDC_CPU_TEMP) << " " << app->Text(IDC_ENV_TEMP) << " "
            << app->Text(IDC_PWM_DUTY);
        ASSERT_TRUE(app->Running());
    }

    app->CheckRadio(IDC_PWM4);
    const int kPwm4Duties[] = {256, WRSIM_FAILURE_VALUE, INT_MAX, -77};
    for (int duty : kPwm4Duties) {
        WrSimSetFault(kRegDutyPwm0, 5);
        WrSimSetFault(kRegDutyPwm4, duty);
        EXPECT_TRUE(WaitFor([&] { return app->Text(IDC_PWM_DUTY) == Decimal(duty); }, 15000))
            << "PWM4 duty " << duty << " shows " << app->Text(IDC_PWM_DUTY);
    }
    EXPECT_TRUE(app->Running());
}

// The conversion of a count to a speed has its own table; this is the
// program's way there: the high byte first, and only the low byte of each
// result, on both channels.
TEST_F(FaultTest, TachometerKeepsOnlyTheLowByteOfEachResultOnBothChannels) {
    Start();
    struct Channel {
        int radio;
        WORD high, low;
    };
    const Channel kChannels[] = {{IDC_PWM0, kRegTachHighPwm0, kRegTachLowPwm0},
                                 {IDC_PWM4, kRegTachHighPwm4, kRegTachLowPwm4}};
    struct Case {
        int high, low;
        const char* shown;
    };
    const Case kCases[] = {
        {0x304, 0x136, "2000"},                           // 0x04, 0x36: count 1078
        {INT_MIN, 0x180, "16845"},                        // 0x00, 0x80: count 128
        {-252, -202, "2000"},                             // 0x..04, 0x..36
        {WRSIM_FAILURE_VALUE, WRSIM_FAILURE_VALUE, "0"},  // 0xFF, 0xFF: beyond range
    };
    for (const Channel& ch : kChannels) {
        app->CheckRadio(ch.radio);
        for (const Case& c : kCases) {
            SCOPED_TRACE(testing::Message() << ch.radio << ": " << c.high << ", " << c.low);
            size_t from = CallCount();
            WrSimSetFault(ch.high, c.high);
            WrSimSetFault(ch.low, c.low);
            // A fan-speed phase that got exactly these results, and the call
            // after it: the program has one thread, so by then that tick has
            // updated the fields.
            ASSERT_TRUE(WaitFor(
                [&] {
                    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
                    for (size_t i = from; i + 2 < calls.size(); ++i) {
                        if (Reg(calls[i]) == ch.high && calls[i].result == c.high &&
                            Reg(calls[i + 1]) == ch.low && calls[i + 1].result == c.low) {
                            return true;
                        }
                    }
                    return false;
                },
                15000));
            EXPECT_EQ(app->Text(IDC_FAN_SPEED), c.shown);
        }
        ASSERT_TRUE(app->Running());
    }
}

TEST_F(FaultTest, SlowEcKeepsSamplingAndExitInManualModeEndsWithinTwoSeconds) {
    WrSimSetDelay(200);
    Start();
    // Each call now takes 200 ms; a cycle of five calls still fits in a few seconds.
    size_t before = CallCount();
    ASSERT_TRUE(WaitForCalls(app->Pid(), before + 10, 30000)) << "sampling stalled";
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    EXPECT_EQ(Reg(calls[0]), kRegCpuTemp);

    app->Click(IDC_TEST);
    ASSERT_EQ(WrSimPeek(kRegManualMode), 1);
    // Sampling goes on in manual mode too.
    size_t manualFrom = CallCount();
    ASSERT_TRUE(WaitForCalls(app->Pid(), manualFrom + 4, 30000));

    size_t exitFrom = CallCount();
    DWORD start = ::GetTickCount();
    ::PostMessageA(app->Item(IDC_EXIT), BM_CLICK, 0, 0);
    bool ended = app->WaitForExit(2000);
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_TRUE(ended) << "still running " << elapsed << " ms after Exit";
    if (!ended) app->WaitForExit(20000);
    EXPECT_EQ(WrSimPeek(kRegManualMode), 0);
    calls = CallsOf(app->Pid());
    ASSERT_GT(calls.size(), exitFrom);
    const WRSIM_CALL& last = calls.back();
    EXPECT_EQ(last.isWrite, 1u);
    EXPECT_EQ(Reg(last), kRegManualMode);
    EXPECT_EQ(last.args[4], 0);
}

}  // namespace
