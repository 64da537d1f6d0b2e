// Start-up against the real program: platform variant from Led.ini, the first
// tick, and the single-instance rule across processes.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/Harness.h"

namespace {

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnSimulatedEc();
        WrSimReset(1);
        WrSimFreeze(TRUE);
        WrSimLogClear();
    }
};

// The index triples of the first EC read and of Test's first write with this
// Led.ini, one after the other; `pWrite` gets that write's whole argument list.
std::vector<int> CallTriples(const char* ledIni, std::vector<int>* pWrite = nullptr) {
    InstallDir dir;
    if (ledIni != nullptr) dir.WriteLedIni(ledIni);
    WrSimLogClear();
    VorlaneProcess app(dir);
    if (app.WaitForMainWindow() == nullptr || !WaitForCalls(app.Pid(), 1)) return {};
    app.Click(1041);
    app.Click(1006);
    std::vector<WRSIM_CALL> calls = CallsOf(app.Pid());
    auto write = std::find_if(calls.begin(), calls.end(),
                              [](const WRSIM_CALL& c) { return c.isWrite != 0; });
    if (write == calls.end()) return {};
    if (pWrite != nullptr) pWrite->assign(write->args, write->args + write->argCount);
    const WRSIM_CALL& read = calls.front();
    return {read.args[4],   read.args[5],   read.args[6],
            write->args[5], write->args[6], write->args[7]};
}

TEST_F(StartupTest, LedIniSelectsTheIndexTripleOfReadsAndWrites) {
    const std::vector<int> kClear = {6, 7, 8, 6, 7, 8};
    const std::vector<int> kSet = {0, 1, 2, 0, 1, 2};
    std::vector<int> write;
    EXPECT_EQ(CallTriples(nullptr), kClear) << "no Led.ini";
    EXPECT_EQ(CallTriples("[PLATFORM_TYPE]\r\nValue=0\r\n"), kClear);
    EXPECT_EQ(CallTriples("[PLATFORM_TYPE]\r\nValue=1\r\n", &write), kSet);
    EXPECT_EQ(write, std::vector<int>({108, 104, 145, 48, 1, 0, 1, 2, 1, 2}));
    EXPECT_EQ(CallTriples("[PLATFORM_TYPE]\r\nValue=7\r\n"), kSet) << "any nonzero value";
    EXPECT_EQ(CallTriples("[OTHER]\r\nValue=1\r\n"), kClear) << "section missing";
    EXPECT_EQ(CallTriples("[PLATFORM_TYPE]\r\nOther=1\r\n"), kClear) << "key missing";
}

TEST_F(StartupTest, FirstTickReadsCpuTemperatureAndShowsZeroElsewhere) {
    WrSimPoke(0x9118, 57);
    WrSimPoke(0x9115, 33);
    WrSimPoke(0x1821, 0x04);
    WrSimPoke(0x1820, 0x36);
    WrSimPoke(0x1803, 77);
    // The window of one tick is short: a slow machine may miss it, so retry.
    bool observed = false;
    for (int attempt = 0; attempt < 3 && !observed; ++attempt) {
        InstallDir dir;
        WrSimLogClear();
        VorlaneProcess app(dir);
        ASSERT_NE(app.WaitForMainWindow(), nullptr);
        std::string before[4];
        for (int i = 0; i < 4; ++i) before[i] = app.Text(1001 + i);
        if (CallsOf(app.Pid()).empty()) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(before[i], "") << "field " << 1001 + i;
        }
        ASSERT_TRUE(WaitFor([&] { return CallsOf(app.Pid()).size() >= 1; }));
        std::string cpu = app.Text(1001), env = app.Text(1002), fan = app.Text(1003),
                    duty = app.Text(1004);
        std::vector<WRSIM_CALL> calls = CallsOf(app.Pid());
        if (calls.size() != 1 || cpu != "57") continue;
        observed = true;
        EXPECT_EQ(Reg(calls[0]), 0x9118);
        const BYTE kExpected[9] = {108, 104, 145, 24, 6, 7, 8, 1, 1};
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
        DWORD code = 0;
        ::GetExitCodeProcess(second.Handle(), &code);
        EXPECT_NE(code, STILL_ACTIVE);
        // The second copy never reached the EC.
        EXPECT_TRUE(CallsOf(second.Pid()).empty());
    }
    InstallDir dir;
};

TEST_F(SingleInstanceTest, SecondCopyRestoresAMinimisedFirst) {
    VorlaneProcess first(dir);
    HWND hMain = first.WaitForMainWindow();
    ASSERT_NE(hMain, nullptr);
    ::ShowWindow(hMain, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return ::IsIconic(hMain) != FALSE; }));
    StartSecondCopy();
    EXPECT_TRUE(WaitFor([&] { return !::IsIconic(hMain); })) << "first copy still minimised";
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == hMain; }));
}

TEST_F(SingleInstanceTest, SecondCopyBringsAnOpenAboutBoxForward) {
    VorlaneProcess first(dir);
    HWND hMain = first.WaitForMainWindow();
    ASSERT_NE(hMain, nullptr);
    ::PostMessageA(hMain, WM_SYSCOMMAND, 0x10, 0);
    HWND hAbout = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (hAbout = ::FindWindowA("#32770", "About Vorlane")) != nullptr; }));
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
    VorlaneProcess first(dir);
    HWND hMain = first.WaitForMainWindow();
    ASSERT_NE(hMain, nullptr);
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
