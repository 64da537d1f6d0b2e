// The sampling cycle against the real program on a frozen simulated EC.
#include <gtest/gtest.h>

#include <algorithm>

#include "ec/EcProtocol.h"
#include "tests/common/EcTest.h"
#include "ui/resource.h"

namespace {

using SamplingTest = EcTest;

TEST_F(SamplingTest, CycleReadsCpuAmbientFanThenDutyOneTickEvery250Ms) {
    Start();
    ASSERT_TRUE(WaitForCalls(app->Pid(), 11, 15000));
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    const std::vector<WORD> kCycle = {kRegCpuTemp, kRegEnvTemp, kRegTachHighPwm0, kRegTachLowPwm0,
                                      kRegDutyPwm0};
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(Reg(calls[i]), kCycle[i % 5]) << "call " << i;
        EXPECT_EQ(calls[i].isWrite, 0u) << "call " << i;
    }
    // Slowness can only lower the rate; more than five calls a second is a fault.
    DWORD span = calls[10].tickMs - calls[0].tickMs;
    EXPECT_GE(span, 1500u) << "10 calls came faster than two one-second cycles";
    // Nor may the period grow. The median gap between ticks (the low tachometer
    // read shares its tick) shrugs off the few ticks a busy machine delays.
    std::vector<DWORD> gaps;
    for (size_t i = 1, last = 0; i < calls.size(); ++i) {
        if (Reg(calls[i]) == kRegTachLowPwm0) continue;
        gaps.push_back(calls[i].tickMs - calls[last].tickMs);
        last = i;
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LT(gaps[gaps.size() / 2], 375u) << "ticks further apart than 250 ms";
}

TEST_F(SamplingTest, Pwm4ReadsItsOwnTachometerAndDutyRegisters) {
    Start();
    app->CheckRadio(IDC_PWM4);
    size_t from = CallCount();
    ASSERT_TRUE(WaitForCalls(app->Pid(), from + 10, 15000));
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    int fanPhases = 0, dutyPhases = 0;
    for (size_t i = from; i < calls.size(); ++i) {
        WORD reg = Reg(calls[i]);
        EXPECT_NE(reg, kRegTachHighPwm0);
        EXPECT_NE(reg, kRegTachLowPwm0);
        EXPECT_NE(reg, kRegDutyPwm0);
        if (reg == kRegTachHighPwm4) {
            ++fanPhases;
            if (i + 1 < calls.size()) {
                EXPECT_EQ(Reg(calls[i + 1]), kRegTachLowPwm4) << "high byte read first";
            }
        }
        if (reg == kRegDutyPwm4) ++dutyPhases;
    }
    EXPECT_GE(fanPhases, 1);
    EXPECT_GE(dutyPhases, 1);
}

}  // namespace
