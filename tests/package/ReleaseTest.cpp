// The program as a user starts it from a release: from the folder that
// test_release_zip unpacked beside this test, or, with VORLANE_RELEASE_DIR
// set (test_msi_install), from where the MSI installed it. With the simulated
// EC that came in the package it shows the EC's values, runs its guardian
// from the same folder, and ends on Exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

#include "ec/EcProtocol.h"
#include "tests/common/EcTest.h"
#include "ui/resource.h"

namespace {

using ReleaseTest = EcTest;

std::wstring ReleaseDir() {
    wchar_t dir[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"VORLANE_RELEASE_DIR", dir, MAX_PATH) > 0) return dir;
    return Widen(TestBinaryDir() + "\\" VORLANE_UNPACKED_DIR_NAME);
}

// The folders of the running guardians' executables, in lower case.
std::vector<std::wstring> GuardianFolders() {
    std::vector<std::wstring> folders;
    for (DWORD pid : GuardianPids()) {
        HANDLE hProcess = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        wchar_t path[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (hProcess != nullptr && ::QueryFullProcessImageNameW(hProcess, 0, path, &size)) {
            std::wstring folder(path, size);
            folder.resize(folder.rfind(L'\\'));
            for (wchar_t& c : folder) c = static_cast<wchar_t>(std::towlower(c));
            folders.push_back(folder);
        }
        if (hProcess != nullptr) ::CloseHandle(hProcess);
    }
    return folders;
}

TEST_F(ReleaseTest, ProgramRunsFromTheReleaseFolder) {
    const std::wstring dir = ReleaseDir();
    ASSERT_NE(::GetFileAttributesW((dir + L"\\Vorlane.exe").c_str()), INVALID_FILE_ATTRIBUTES)
        << "no Vorlane.exe in the release folder";

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

    std::wstring lower = dir;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    EXPECT_TRUE(WaitFor([&] {
        std::vector<std::wstring> folders = GuardianFolders();
        return std::find(folders.begin(), folders.end(), lower) != folders.end();
    })) << "no guardian runs from the release folder";

    ::PostMessageA(app->Item(IDC_EXIT), BM_CLICK, 0, 0);
    EXPECT_TRUE(app->WaitForExit());
}

}  // namespace
