// The sampling cycle against the real program on a frozen simulated EC.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/Harness.h"

namespace {

class SamplingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnSimulatedEc();
        WrSimReset(2);
        WrSimFreeze(TRUE);
        WrSimLogClear();
    }
    void Start() {
        app.reset(new VorlaneProcess(dir));
        ASSERT_NE(app->WaitForMainWindow(), nullptr);
    }
    std::vector<WORD> Registers(size_t from = 0) {
        std::vector<WORD> regs;
        std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
        for (size_t i = from; i < calls.size(); ++i) regs.push_back(Reg(calls[i]));
        return regs;
    }
    InstallDir dir;
    std::unique_ptr<VorlaneProcess> app;
};

TEST_F(SamplingTest, CycleReadsCpuAmbientFanThenDutyOneTickEvery250Ms) {
    Start();
    ASSERT_TRUE(WaitForCalls(app->Pid(), 11, 15000));
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    const std::vector<WORD> kCycle = {0x9118, 0x9115, 0x1821, 0x1820, 0x1803};
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
        if (Reg(calls[i]) == 0x1820) continue;
        gaps.push_back(calls[i].tickMs - calls[last].tickMs);
        last = i;
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LT(gaps[gaps.size() / 2], 375u) << "ticks further apart than 250 ms";
}

TEST_F(SamplingTest, Pwm4ReadsItsOwnTachometerAndDutyRegisters) {
    Start();
    app->CheckRadio(1051);
    size_t from = CallsOf(app->Pid()).size();
    ASSERT_TRUE(WaitForCalls(app->Pid(), from + 10, 15000));
    std::vector<WORD> regs = Registers(from);
    int fanPhases = 0, dutyPhases = 0;
    for (size_t i = 0; i < regs.size(); ++i) {
        EXPECT_NE(regs[i], 0x1821);
        EXPECT_NE(regs[i], 0x1820);
        EXPECT_NE(regs[i], 0x1803);
        if (regs[i] == 0x181F) {
            ++fanPhases;
            if (i + 1 < regs.size()) {
                EXPECT_EQ(regs[i + 1], 0x181E) << "high byte read first";
            }
        }
        if (regs[i] == 0x1805) ++dutyPhases;
    }
    EXPECT_GE(fanPhases, 1);
    EXPECT_GE(dutyPhases, 1);
}

TEST_F(SamplingTest, TachometerBytePairsBecomeRpm) {
    Start();
    struct Case {
        BYTE high, low;
        const char* shown;
    };
    const Case kCases[] = {{0x04, 0x36, "2000"},
                           {0x00, 0x7F, "9999"},
                           {0x40, 0x00, "0"},
                           {0x00, 0x80, "16845"},
                           {0x3F, 0xFF, "131"}};
    for (const Case& c : kCases) {
        WrSimPoke(0x1821, c.high);
        WrSimPoke(0x1820, c.low);
        EXPECT_TRUE(WaitFor([&] { return app->Text(1003) == c.shown; }))
            << std::hex << int(c.high) << " " << int(c.low) << " shows " << app->Text(1003);
    }
}

TEST_F(SamplingTest, OutOfRangeReadsShownWholeExceptTachometer) {
    WrSimSetFault(0x9118, 300);
    WrSimSetFault(0x9115, -5);
    WrSimSetFault(0x1803, 1000);
    // Only the low byte of each tachometer read counts: 0x04, 0x36 is 2000 rpm.
    WrSimSetFault(0x1821, 0x104);
    WrSimSetFault(0x1820, -202);  // 0xFFFFFF36
    Start();
    EXPECT_TRUE(WaitFor([&] {
        return app->Text(1001) == "300" && app->Text(1002) == "-5" && app->Text(1003) == "2000" &&
               app->Text(1004) == "1000";
    })) << app->Text(1001)
        << " " << app->Text(1002) << " " << app->Text(1003) << " " << app->Text(1004);
}

TEST_F(SamplingTest, FailingLibraryValueIsShownAndSamplingGoesOn) {
    WrSimSetFault(0xFFFFFFFF, WRSIM_FAILURE_VALUE);
    Start();
    ASSERT_TRUE(WaitForCalls(app->Pid(), 10, 15000));
    // Every tachometer byte is 0xFF: count 65535, beyond the tachometer's range.
    EXPECT_TRUE(WaitFor([&] {
        return app->Text(1001) == "-1" && app->Text(1002) == "-1" && app->Text(1003) == "0" &&
               app->Text(1004) == "-1";
    }));
    WrSimClearFaults();
    WrSimPoke(0x9118, 61);
    EXPECT_TRUE(WaitFor([&] { return app->Text(1001) == "61"; }));
}

}  // namespace
