// The program as a user starts it from the release zip: from the folder that
// test_release_zip unpacked beside this test, with the simulated EC that came
// in the zip, it shows the EC's values and ends on Exit.
#include <gtest/gtest.h>

#include "ec/EcProtocol.h"
#include "tests/common/EcTest.h"
#include "ui/resource.h"

namespace {

using ReleaseTest = EcTest;

TEST_F(ReleaseTest, ProgramRunsFromTheUnpackedZip) {
    const std::wstring dir = Widen(TestBinaryDir() + "\\" VORLANE_UNPACKED_DIR_NAME);
    ASSERT_NE(::GetFileAttributesW((dir + L"\\Vorlane.exe").c_str()), INVALID_FILE_ATTRIBUTES)
        << "test_release_zip unpacks the zip beside this test";

    WrSimPoke(kRegCpuTemp, 57);
    WrSimPoke(kRegEnvTemp, 31);
    WrSimPoke(kRegTachHighPwm0, 0x04);
    WrSimPoke(kRegTachLowPwm0, 0x36);  // 2000 rpm
    WrSimPoke(kRegDutyPwm0, 42);
    app.reset(new VorlaneProcess(dir + L"\\Vorlane.exe", dir.c_str()));
    ASSERT_TRUE(app->Started()) << "error " << app->StartError();
    ASSERT_NE(app->WaitForMainWindow(), nullptr);
    auto shown = [&] {
        return app->Text(IDC_CPU_TEMP) + " " + app->Text(IDC_ENV_TEMP) + " " +
               app->Text(IDC_FAN_SPEED) + " " + app->Text(IDC_PWM_DUTY);
    };
    EXPECT_TRUE(WaitFor([&] { return shown() == "57 31 2000 42"; }, 15000)) << shown();
    // Without data\Led.ini the first platform variant is used.
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].args[4], 6);

    ::PostMessageA(app->Item(IDC_EXIT), BM_CLICK, 0, 0);
    EXPECT_TRUE(app->WaitForExit());
}

}  // namespace
