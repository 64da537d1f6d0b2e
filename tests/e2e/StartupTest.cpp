// Start-up against the real program: the write of the platform variant, the
// first tick, and the single-instance rule across processes.
#include <gtest/gtest.h>

#include <algorithm>

#include "ec/EcProtocol.h"
#include "tests/common/EcTest.h"
#include "ui/resource.h"

namespace {

using StartupTest = EcTest;

// The triple of every read, for every Led.ini, is BadInputTest's; a write
// carries the flag's triple as well, here the set one.
TEST_F(StartupTest, WriteCarriesTheTripleOfTheLedIniFlag) {
    dir.WriteLedIni("[PLATFORM_TYPE]\r\nValue=1\r\n");
    Start();
    app->Click(IDC_TEST);
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    auto write = std::find_if(calls.begin(), calls.end(),
                              [](const WRSIM_CALL& c) { return c.isWrite != 0; });
    ASSERT_NE(write, calls.end());
    EXPECT_EQ(
        std::vector<int>(write->args, write->args + write->argCount),
        std::vector<int>({kEcPortCmd, kEcPortData, EcHighByte(kRegManualMode),
                          EcLowByte(kRegManualMode), 1, 0, 1, 2, kEcWriteConst1, kEcWriteConst2}));
    app->Click(IDC_EXIT);
}

TEST_F(StartupTest, FirstTickReadsCpuTemperatureAndShowsZeroElsewhere) {
    WrSimPoke(kRegCpuTemp, 57);
    WrSimPoke(kRegEnvTemp, 33);
    WrSimPoke(kRegTachHighPwm0, 0x04);
    WrSimPoke(kRegTachLowPwm0, 0x36);
    WrSimPoke(kRegDutyPwm0, 77);
    // The window of one tick is short: a slow machine may miss it, so retry.
    bool observed = false;
    for (int attempt = 0; attempt < 3 && !observed; ++attempt) {
        WrSimLogClear();
        ASSERT_NO_FATAL_FAILURE(Start());
        std::string before[4];
        for (int i = 0; i < 4; ++i) before[i] = app->Text(IDC_CPU_TEMP + i);
        if (CallsOf(app->Pid()).empty()) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(before[i], "") << "field " << IDC_CPU_TEMP + i;
        }
        ASSERT_TRUE(WaitFor([&] { return CallsOf(app->Pid()).size() >= 1; }));
        std::string cpu = app->Text(IDC_CPU_TEMP), env = app->Text(IDC_ENV_TEMP),
                    fan = app->Text(IDC_FAN_SPEED), duty = app->Text(IDC_PWM_DUTY);
        std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
        if (calls.size() != 1 || cpu != "57") continue;
        observed = true;
        const BYTE kExpected[9] = {
            kEcPortCmd, kEcPortData, EcHighByte(kRegCpuTemp), EcLowByte(kRegCpuTemp), 6,
            7,          8,           kEcReadConst1,           kEcReadConst2};
        EXPECT_EQ(calls[0].argCount, 9u);
        for (int i = 0; i < 9; ++i) EXPECT_EQ(calls[0].args[i], kExpected[i]) << "argument " << i;
        EXPECT_EQ(env, "0");
        EXPECT_EQ(fan, "0");
        EXPECT_EQ(duty, "0");
    }
    EXPECT_TRUE(observed) << "never saw the state after exactly one tick";
}

class SingleInstanceTest : public StartupTest {
  protected:
    // Starts a second copy and expects it to end by itself, leaving the first.
    void StartSecondCopy() {
        InstallDir dir2;
        VorlaneProcess second(dir2);
        ASSERT_TRUE(second.Started());
        EXPECT_TRUE(second.WaitForExit(20000)) << "second copy kept running";
        // The second copy never reached the EC.
        EXPECT_TRUE(CallsOf(second.Pid()).empty());
    }
};

TEST_F(SingleInstanceTest, SecondCopyRestoresAMinimisedFirst) {
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND hMain = app->MainWindow();
    ::ShowWindow(hMain, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return ::IsIconic(hMain) != FALSE; }));
    StartSecondCopy();
    EXPECT_TRUE(WaitFor([&] { return !::IsIconic(hMain); })) << "first copy still minimised";
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == hMain; }));
}

TEST_F(SingleInstanceTest, SecondCopyBringsAnOpenAboutBoxForward) {
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND hMain = app->MainWindow();
    ::PostMessageA(hMain, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND hAbout = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (hAbout = ::FindWindowA("#32770", kAboutCaption)) != nullptr; }));
    // Something else in front first, so that bringing forward is observable.
    ::SetForegroundWindow(::GetDesktopWindow());
    RECT before;
    ::GetWindowRect(hMain, &before);
    StartSecondCopy();
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == hAbout; }));
    RECT after;
    ::GetWindowRect(hMain, &after);
    EXPECT_TRUE(::EqualRect(&before, &after)) << "main window moved or resized";
    ::PostMessageA(hAbout, WM_COMMAND, IDOK, 0);
}

TEST_F(SingleInstanceTest, SecondCopyLeavesAVisibleFirstInPlace) {
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND hMain = app->MainWindow();
    RECT before;
    ::GetWindowRect(hMain, &before);
    StartSecondCopy();
    RECT after;
    ::GetWindowRect(hMain, &after);
    EXPECT_TRUE(::EqualRect(&before, &after));
    EXPECT_FALSE(::IsIconic(hMain));
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == hMain; }));
}

}  // namespace
