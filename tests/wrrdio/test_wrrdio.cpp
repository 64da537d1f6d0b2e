// The stand-in EC library: register access, the firmware model, test
// controls, the call log and trace, and one EC shared by several processes.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "WrRdIO.h"
#include "WrRdIOSim.h"
#include "tests/common/EcTest.h"

namespace {

const WORD kCpuTemp = 0x9118, kAmbientTemp = 0x9115, kManualMode = 0x9130;
const WORD kManualDuty[2] = {0x9133, 0x916F}, kDuty[2] = {0x1803, 0x1805};
const WORD kTachHigh[2] = {0x1821, 0x181F}, kTachLow[2] = {0x1820, 0x181E};
const WORD kScratch = 0x1234;

int Read(WORD address) {
    return GetRegisterValue(108, 104, HIBYTE(address), LOBYTE(address), 6, 7, 8, 1, 1);
}
int Write(WORD address, BYTE value) {
    return SetRegisterValue(108, 104, HIBYTE(address), LOBYTE(address), value, 6, 7, 8, 1, 2);
}
int TachCount(int fan) {
    return (Read(kTachHigh[fan]) & 0xFF) << 8 | (Read(kTachLow[fan]) & 0xFF);
}
double Rpm(int fan) {
    const int count = TachCount(fan);
    return count ? 2156250.0 / count : 0.0;
}
// Duty the firmware's own curve picks at exactly `temp`.
int AutoDutyAt(BYTE temp) {
    WrSimPoke(kCpuTemp, temp);
    WrSimAdvance(50);
    return WrSimPeek(kDuty[0]);
}

// Runs the peer process (sharing this process's environment, so its EC) and
// returns its exit code, which is the result of its one EC call.
DWORD RunPeer(const std::string& args, DWORD* pid = NULL) {
    VorlaneProcess peer(Widen(TestBinaryDir() + "\\wrrdio_peer.exe"), NULL, Widen(" " + args));
    if (pid) *pid = peer.Pid();
    return peer.WaitForExit(60000) ? peer.ExitCode() : 9998;
}

// Every case starts from a freshly powered EC of this process's own, frozen
// so that only what the case does moves it, traced and moving only where it asks.
class Ec : public EcTest {
  protected:
    void SetUp() override {
        EcTest::SetUp();
        SetEnvironmentVariableA("WRRDIO_TRACE", NULL);
        SetEnvironmentVariableA("WRRDIO_SIM_MOVING", NULL);
    }
};

TEST_F(Ec, EveryByteRoundTripsAndOnlyLowArgumentBitsCount) {
    for (int value = 0; value < 256; ++value) {
        ASSERT_EQ(0, Write(kScratch, static_cast<BYTE>(value)));
        ASSERT_EQ(value, Read(kScratch));  // zero-extended, so 0xFF reads 255
        ASSERT_EQ(value, WrSimPeek(kScratch));
    }
    EXPECT_EQ(0, SetRegisterValue(0xAB006C, 0xFFFF0068, 0x4412, 0x1234, 0xCAFE0099, 0xFF00, 1, 2,
                                  0x301, 0x102));
    EXPECT_EQ(0x99, WrSimPeek(kScratch));
    EXPECT_EQ(0x99,
              GetRegisterValue(0x16C, 0x7F68, 0x112, 0xFF34, 0x100, 0x201, 0x302, 0x101, 0x101));
    // Either platform variant's triple is answered.
    EXPECT_EQ(0x99, GetRegisterValue(108, 104, 0x12, 0x34, 0, 1, 2, 1, 1));
    EXPECT_EQ(0x55, Read(0x2000));
    EXPECT_EQ(0x70, Read(0x2001));
}

// A call off the protocol (ports, triple, closing pair) fails and changes
// nothing: a wrong constant in a caller shows.
TEST_F(Ec, CallsOffTheProtocolChangeNothingAndFail) {
    WrSimPoke(kScratch, 0x5A);
    // ports, triple, closing pair of a read; a write closes with 1, 2
    const BYTE kCalls[][7] = {{104, 108, 6, 7, 8, 1, 1}, {0x62, 0x66, 6, 7, 8, 1, 1},
                              {108, 108, 6, 7, 8, 1, 1}, {0, 0, 6, 7, 8, 1, 1},
                              {108, 104, 3, 3, 3, 1, 1}, {108, 104, 6, 7, 9, 1, 1},
                              {108, 104, 0, 1, 8, 1, 1}, {108, 104, 6, 7, 8, 1, 2},
                              {108, 104, 0, 1, 2, 2, 1}, {108, 104, 6, 7, 8, 9, 9}};
    for (const auto& c : kCalls) {
        EXPECT_EQ(WRSIM_FAILURE_VALUE,
                  SetRegisterValue(c[0], c[1], 0x12, 0x34, 7, c[2], c[3], c[4], c[5], c[6] + 1));
        EXPECT_EQ(WRSIM_FAILURE_VALUE,
                  GetRegisterValue(c[0], c[1], 0x12, 0x34, c[2], c[3], c[4], c[5], c[6]));
        EXPECT_EQ(0x5A, WrSimPeek(kScratch));
    }
}

TEST_F(Ec, AutoCurveFollowsCpuTemperatureWithHysteresis) {
    EXPECT_EQ(0, AutoDutyAt(40));
    const int at50 = AutoDutyAt(50), at60 = AutoDutyAt(60), at70 = AutoDutyAt(70);
    EXPECT_GT(at50, 0);
    EXPECT_GT(at60, at50);
    EXPECT_GT(at70, at60);
    EXPECT_EQ(127, AutoDutyAt(90));
    EXPECT_EQ(WrSimPeek(kDuty[0]), WrSimPeek(kDuty[1]));
    // Falling, the fan slows only once the temperature is well below the rising point.
    EXPECT_EQ(127, AutoDutyAt(88));
    EXPECT_GT(AutoDutyAt(60), at60);
    AutoDutyAt(40);
    EXPECT_EQ(at50, AutoDutyAt(50));
    EXPECT_EQ(at50, AutoDutyAt(49));
    EXPECT_GT(AutoDutyAt(44), 0);
    EXPECT_EQ(0, AutoDutyAt(38));
}

TEST_F(Ec, ManualModeRunsEachFanAtItsOwnDuty) {
    EXPECT_EQ(0, Write(kManualMode, 1));
    Write(kManualDuty[0], 100);
    Write(kManualDuty[1], 200);
    WrSimPoke(kCpuTemp, 95);
    WrSimAdvance(50);
    EXPECT_EQ(100, WrSimPeek(kDuty[0]));
    EXPECT_EQ(127, WrSimPeek(kDuty[1]));  // clamped in effect, stored as written
    EXPECT_EQ(200, WrSimPeek(kManualDuty[1]));
    Write(kManualMode, 0);
    WrSimAdvance(50);
    EXPECT_EQ(127, WrSimPeek(kDuty[0]));
    EXPECT_EQ(127, WrSimPeek(kDuty[1]));
}

TEST_F(Ec, TachometerCountsFollowFanSpeedWithInertia) {
    Write(kManualMode, 1);
    Write(kManualDuty[0], 127);
    Write(kManualDuty[1], 127);
    WrSimAdvance(30000);
    const double full0 = Rpm(0), full4 = Rpm(1);
    EXPECT_NEAR(full0, 6000, 1000);
    EXPECT_NEAR(full4, 6000, 1000);
    Write(kManualDuty[0], 64);
    WrSimAdvance(30000);
    EXPECT_NEAR(Rpm(0) / full0, 64.0 / 127, 0.05);
    EXPECT_DOUBLE_EQ(full4, Rpm(1));

    Write(kManualDuty[0], 0);
    Write(kManualDuty[1], 5);  // too little to turn the motor
    WrSimAdvance(30000);
    EXPECT_EQ(0, TachCount(0));
    EXPECT_EQ(0, TachCount(1));
    EXPECT_EQ(5, Read(kDuty[1]));

    Write(kManualDuty[0], 127);
    WrSimAdvance(300);
    EXPECT_GT(Rpm(0), 0.1 * full0);
    EXPECT_LT(Rpm(0), 0.5 * full0);
    WrSimAdvance(3000);
    EXPECT_GT(Rpm(0), 0.9 * full0);
}

TEST_F(Ec, CpuTemperatureFollowsLoadAndAirflow) {
    WrSimSetLoad(100);
    WrSimAdvance(120000);
    const int hotAuto = Read(kCpuTemp);
    EXPECT_NEAR(hotAuto, 80, 20);
    Write(kManualMode, 1);  // fans stopped by manual duty 0
    WrSimAdvance(120000);
    EXPECT_GT(Read(kCpuTemp), hotAuto + 5);
    WrSimSetLoad(0);
    Write(kManualMode, 0);
    WrSimAdvance(300000);
    EXPECT_LT(Read(kCpuTemp), 50);
    for (int minute = 0; minute < 30; ++minute) {
        WrSimAdvance(60000);
        EXPECT_NEAR(Read(kAmbientTemp), 28.5, 4.5);
    }
}

TEST_F(Ec, SameSeedRepeatsTheSameRun) {
    auto run = [](unsigned seed) {
        WrSimReset(seed);
        WrSimFreeze(TRUE);
        std::vector<int> trace;
        for (int i = 0; i < 60; ++i) {
            WrSimAdvance(15000);
            for (WORD reg : {kCpuTemp, kAmbientTemp, kDuty[0], kTachLow[0]})
                trace.push_back(WrSimPeek(reg));
        }
        return trace;
    };
    const std::vector<int> first = run(7);
    EXPECT_EQ(first, run(7));
    EXPECT_NE(first, run(8));
}

TEST_F(Ec, FreezeHoldsValuesUntilThawed) {
    WrSimPoke(kCpuTemp, 99);
    WrSimPoke(kTachHigh[0], 0x12);
    WrSimPoke(kTachLow[0], 0x34);
    Write(kDuty[0], 55);
    for (int i = 0; i < 3; ++i) {
        Sleep(50);
        EXPECT_EQ(99, Read(kCpuTemp));
        EXPECT_EQ(0x1234, TachCount(0));
        EXPECT_EQ(55, Read(kDuty[0]));
    }
    // Thawed, the model carries on from the poked temperature.
    WrSimFreeze(FALSE);
    EXPECT_NEAR(Read(kCpuTemp), 99, 2);
    EXPECT_NE(0x1234, TachCount(0));
}

TEST_F(Ec, RunsOnRealTimeWhenNotFrozen) {
    Write(kManualMode, 1);
    Write(kManualDuty[0], 0);
    WrSimAdvance(30000);
    ASSERT_EQ(0, TachCount(0));
    WrSimFreeze(FALSE);
    Write(kManualDuty[0], 127);
    double rpm = 0;
    for (int i = 0; i < 200 && rpm < 3000; ++i) {
        Sleep(100);
        rpm = Rpm(0);
    }
    EXPECT_GE(rpm, 3000);
}

TEST_F(Ec, FaultsAnswerForOneRegisterOrAll) {
    const int ambient = Read(kAmbientTemp);
    WrSimSetFault(kCpuTemp, 300);
    EXPECT_EQ(300, Read(kCpuTemp));
    EXPECT_EQ(ambient, Read(kAmbientTemp));
    EXPECT_EQ(0, Write(kCpuTemp, 77));
    EXPECT_EQ(77, WrSimPeek(kCpuTemp));
    EXPECT_EQ(300, Read(kCpuTemp));
    WrSimSetFault(0xFFFFFFFF, -1);
    EXPECT_EQ(-1, Read(kAmbientTemp));
    EXPECT_EQ(-1, Read(kScratch));
    EXPECT_EQ(300, Read(kCpuTemp));
    WrSimClearFaults();
    EXPECT_EQ(77, Read(kCpuTemp));
    EXPECT_EQ(ambient, Read(kAmbientTemp));

    WrSimSetDelay(200);
    const DWORD start = GetTickCount();
    EXPECT_EQ(77, Read(kCpuTemp));
    EXPECT_GE(GetTickCount() - start, 150u);
}

// The benchmarks' busy EC: a read never repeats the register's last answer,
// though the frozen model holds it still, and the register file keeps it.
TEST_F(Ec, MovingReadsNeverRepeatTheLastAnswer) {
    struct Case {
        WORD address;
        BYTE value, moved;
    };
    const Case kCases[] = {{kCpuTemp, 50, 51}, {kScratch, 255, 0}};
    for (const char* pszSetting : {"1", "0"}) {
        SetEnvironmentVariableA("WRRDIO_SIM_MOVING", pszSetting);
        const bool bMoving = pszSetting[0] == '1';
        for (const Case& c : kCases) {
            WrSimPoke(c.address, c.value);
            int previous = Read(c.address);
            for (int i = 0; i < 3; ++i) {
                const int answer = Read(c.address);
                EXPECT_TRUE(answer == c.value || (bMoving && answer == c.moved)) << answer;
                EXPECT_EQ(bMoving, answer != previous) << c.address << " setting " << pszSetting;
                previous = answer;
            }
            EXPECT_EQ(c.value, WrSimPeek(c.address));
        }
    }
}

TEST_F(Ec, CallLogRecordsExactArgumentsAndResults) {
    WrSimLogClear();
    const DWORD before = GetTickCount();
    const int temp = GetRegisterValue(108, 104, 145, 24, 6, 7, 8, 1, 1);
    SetRegisterValue(108, 104, 145, 48, 1, 0, 1, 2, 1, 2);
    GetRegisterValue(104, 108, 145, 24, 6, 7, 8, 1, 1);
    WrSimPeek(kCpuTemp);
    ASSERT_EQ(3u, WrSimLogCount());
    WRSIM_CALL call[3];
    for (DWORD i = 0; i < 3; ++i) ASSERT_TRUE(WrSimLogGet(i, &call[i]));
    EXPECT_FALSE(WrSimLogGet(3, &call[0]));
    const BYTE readArgs[10] = {108, 104, 145, 24, 6, 7, 8, 1, 1, 0};
    const BYTE writeArgs[10] = {108, 104, 145, 48, 1, 0, 1, 2, 1, 2};
    EXPECT_EQ(0, memcmp(readArgs, call[0].args, 10));
    EXPECT_EQ(0, memcmp(writeArgs, call[1].args, 10));
    EXPECT_EQ((std::vector<DWORD>{0, 0, 9, (DWORD)temp}),
              (std::vector<DWORD>{call[0].sequence, call[0].isWrite, call[0].argCount,
                                  (DWORD)call[0].result}));
    EXPECT_EQ((std::vector<DWORD>{1, 1, 10, 0}),
              (std::vector<DWORD>{call[1].sequence, call[1].isWrite, call[1].argCount,
                                  (DWORD)call[1].result}));
    EXPECT_EQ(WRSIM_FAILURE_VALUE, call[2].result);
    EXPECT_EQ(GetCurrentProcessId(), call[2].processId);
    EXPECT_GE(call[0].tickMs, before);
    EXPECT_LE(call[2].tickMs, GetTickCount());

    // The ring keeps the newest 4096 calls and the count goes on.
    WrSimLogClear();
    for (int i = 0; i < 5000; ++i) GetRegisterValue(108, 104, 0, LOBYTE(i), HIBYTE(i), 7, 8, 1, 1);
    EXPECT_EQ(5000u, WrSimLogCount());
    ASSERT_TRUE(WrSimLogGet(0, &call[0]));
    ASSERT_TRUE(WrSimLogGet(4095, &call[1]));
    EXPECT_FALSE(WrSimLogGet(4096, &call[2]));
    EXPECT_EQ(904u, call[0].sequence);
    EXPECT_EQ(904, call[0].args[3] | call[0].args[4] << 8);
    EXPECT_EQ(4999u, call[1].sequence);
    EXPECT_EQ(4999, call[1].args[3] | call[1].args[4] << 8);
}

TEST_F(Ec, TwoProcessesShareOneRegisterFile) {
    WrSimPoke(0x4242, 0x5A);
    EXPECT_EQ(0x5Au, RunPeer("get 0x4242"));
    DWORD peer = 0;
    EXPECT_EQ(0u, RunPeer("set 0x4343 0x77", &peer));
    EXPECT_EQ(0x77, WrSimPeek(0x4343));
    WRSIM_CALL last;
    ASSERT_TRUE(WrSimLogGet(WrSimLogCount() - 1, &last));
    EXPECT_EQ(peer, last.processId);

    // A process that cannot reach its EC reads failure and changes nothing.
    char own[64];
    GetEnvironmentVariableA("WRRDIO_SIM_NAME", own, sizeof(own));
    SetEnvironmentVariableA("WRRDIO_SIM_NAME", "NoSuchNamespace\\VorlaneEC");
    EXPECT_EQ(static_cast<DWORD>(WRSIM_FAILURE_VALUE), RunPeer("get 0x4242"));
    EXPECT_EQ(static_cast<DWORD>(WRSIM_FAILURE_VALUE), RunPeer("set 0x4343 1"));
    SetEnvironmentVariableA("WRRDIO_SIM_NAME", own);
    EXPECT_EQ(0x77, WrSimPeek(0x4343));
}

// A process killed during a call leaves the EC to the others, as an
// abandoned mutex would.
TEST_F(Ec, AProcessThatEndsInsideTheEcLeavesItToTheOthers) {
    WrSimPoke(kScratch, 0x42);
    ASSERT_EQ(1u, RunPeer("enter"));
    EXPECT_EQ(0x42, Read(kScratch));
    EXPECT_EQ(0, Write(kScratch, 0x43));
    EXPECT_EQ(0x43, WrSimPeek(kScratch));
}

TEST_F(Ec, TraceFileGetsOneLinePerCallFromEveryProcess) {
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "wrt", 0, path);
    SetEnvironmentVariableA("WRRDIO_TRACE", path);
    WrSimPoke(kCpuTemp, 45);
    GetRegisterValue(108, 104, 145, 24, 6, 7, 8, 1, 1);
    SetRegisterValue(108, 104, 145, 48, 1, 0, 1, 2, 1, 2);
    DWORD peer = 0;
    RunPeer("get 0x9118", &peer);
    SetEnvironmentVariableA("WRRDIO_TRACE", NULL);
    Read(kCpuTemp);  // not traced any more

    std::vector<std::string> lines;
    FILE* f = fopen(path, "r");
    ASSERT_TRUE(f != NULL);
    char line[256];
    while (fgets(line, sizeof(line), f)) {
        const char* rest = strchr(line, ' ');  // past the tick count
        lines.push_back(rest ? rest + 1 : line);
    }
    fclose(f);
    DeleteFileA(path);
    const std::string self = "pid=" + std::to_string(GetCurrentProcessId()) + " ";
    const std::string other = "pid=" + std::to_string(peer) + " ";
    EXPECT_EQ(
        (std::vector<std::string>{self + "GetRegisterValue(108,104,145,24,6,7,8,1,1) = 45\n",
                                  self + "SetRegisterValue(108,104,145,48,1,0,1,2,1,2) = 0\n",
                                  other + "GetRegisterValue(108,104,145,24,6,7,8,1,1) = 45\n"}),
        lines);
}

}  // namespace
