// The program as a user starts it from the release zip: from the folder that
// test_release_zip unpacked beside this test, with the simulated EC that came
// in the zip, it shows the EC's values and ends on Exit.
#include <gtest/gtest.h>

#include <memory>

#include "tests/common/Harness.h"

namespace {

class ReleaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnSimulatedEc();
        WrSimReset(6);
        WrSimFreeze(TRUE);
        WrSimLogClear();
    }
    std::unique_ptr<VorlaneProcess> app;
};

TEST_F(ReleaseTest, ProgramRunsFromTheUnpackedZip) {
    const std::string dir = TestBinaryDir() + "\\" VORLANE_UNPACKED_DIR_NAME;
    ASSERT_NE(::GetFileAttributesA((dir + "\\Vorlane.exe").c_str()), INVALID_FILE_ATTRIBUTES)
        << dir << " holds no Vorlane.exe: test_release_zip unpacks it";

    WrSimPoke(0x9118, 57);
    WrSimPoke(0x9115, 31);
    WrSimPoke(0x1821, 0x04);
    WrSimPoke(0x1820, 0x36);
    WrSimPoke(0x1803, 42);
    const std::wstring dirW(dir.begin(), dir.end());
    app.reset(new VorlaneProcess(dirW + L"\\Vorlane.exe", dirW.c_str()));
    ASSERT_TRUE(app->Started()) << "error " << app->StartError();
    ASSERT_NE(app->WaitForMainWindow(), nullptr);
    EXPECT_TRUE(WaitFor(
        [&] {
            return app->Text(1001) == "57" && app->Text(1002) == "31" &&
                   app->Text(1003) == "2000" && app->Text(1004) == "42";
        },
        15000))
        << app->Text(1001) << " " << app->Text(1002) << " " << app->Text(1003) << " "
        << app->Text(1004);
    // Without data\Led.ini the first platform variant is used.
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].args[4], 6);

    ::PostMessageA(app->Item(1006), BM_CLICK, 0, 0);
    EXPECT_TRUE(app->WaitForExit());
}

}  // namespace
