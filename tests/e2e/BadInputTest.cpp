// The program's surroundings, plain and hostile: every kind of Led.ini, a very
// long install path, a missing WrRdIO.dll and many copies started at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "ec/EcProtocol.h"
#include "tests/common/EcTest.h"
#include "ui/resource.h"

namespace {

using BadInputTest = EcTest;

// The loader's status when an imported DLL is missing (ntstatus.h).
const DWORD kStatusDllNotFound = 0xC0000135;

const std::vector<int> kTripleFlagSet = {0, 1, 2};
const std::vector<int> kTripleFlagClear = {6, 7, 8};

// Starts the program, waits for a few calls, and returns the index triple they
// all carry (empty when the program did not start, did not sample, or mixed).
std::vector<int> TripleOfRunningProgram(VorlaneProcess& app) {
    if (app.WaitForMainWindow() == nullptr) return {};
    if (!WaitForCalls(app.Pid(), 5, 15000)) return {};
    std::vector<WRSIM_CALL> calls = CallsOf(app.Pid());
    std::vector<int> triple = {calls[0].args[4], calls[0].args[5], calls[0].args[6]};
    for (const WRSIM_CALL& c : calls) {
        if (std::vector<int>{c.args[4], c.args[5], c.args[6]} != triple) return {};
    }
    if (!app.Running()) return {};
    return triple;
}

std::string Utf16WithBom(const char* ascii) {
    std::string s = "\xFF\xFE";
    for (const char* p = ascii; *p != '\0'; ++p) {
        s += *p;
        s += '\0';
    }
    return s;
}

std::string BinaryGarbage() {
    std::string s;
    unsigned x = 12345;
    for (int i = 0; i < 4096; ++i) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>(x >> 16);
    }
    return s;
}

std::string MegabyteOfFillerThenKey() {
    std::string s;
    while (s.size() < (1u << 20)) s += "; filler line of a very long configuration file\r\n";
    return s + "[PLATFORM_TYPE]\r\nValue=1\r\n";
}

// Every call carries the index triple of the flag that Led.ini sets; an odd
// file still lets the program start, and the flag follows the system's reading.
TEST_F(BadInputTest, LedIniSetsTheTripleOfEveryCallAndOddFilesStillStart) {
    const int kDirectory = -1, kFromSystem = -2, kNoFile = -3;
    struct Case {
        const char* name;
        std::string contents;
        int flag;  // expected flag, or what the system's integer reading implies
    };
    const Case kCases[] = {
        {"no Led.ini", "", kNoFile},
        {"flag 0", "[PLATFORM_TYPE]\r\nValue=0\r\n", 0},
        {"flag 1", "[PLATFORM_TYPE]\r\nValue=1\r\n", 1},
        {"any nonzero value", "[PLATFORM_TYPE]\r\nValue=7\r\n", 1},
        {"section missing", "[OTHER]\r\nValue=1\r\n", 0},
        {"key missing", "[PLATFORM_TYPE]\r\nOther=1\r\n", 0},
        {"empty", "", 0},
        {"binary garbage", BinaryGarbage(), 0},
        {"UTF-16 with BOM", Utf16WithBom("[PLATFORM_TYPE]\r\nValue=1\r\n"), 1},
        {"1 MB before the key", MegabyteOfFillerThenKey(), 1},
        {"1 MB value", "[PLATFORM_TYPE]\r\nValue=" + std::string(1u << 20, '7') + "\r\n",
         kFromSystem},
        {"non-numeric", "[PLATFORM_TYPE]\r\nValue=abc\r\n", 0},
        {"negative", "[PLATFORM_TYPE]\r\nValue=-1\r\n", 1},
        {"beyond 32 bits", "[PLATFORM_TYPE]\r\nValue=99999999999\r\n", kFromSystem},
        {"a directory", "", kDirectory},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        InstallDir fresh;
        std::string ini = fresh.Path() + "\\data\\Led.ini";
        if (c.flag == kDirectory) {
            ::CreateDirectoryA((fresh.Path() + "\\data").c_str(), nullptr);
            ASSERT_TRUE(::CreateDirectoryA(ini.c_str(), nullptr));
        } else if (c.flag != kNoFile) {
            fresh.WriteLedIni(c.contents);
        }
        // The program's own rule, applied to what this system reads from the file.
        UINT read = ::GetPrivateProfileIntA("PLATFORM_TYPE", "Value", 0, ini.c_str());
        printf("[   INFO   ] Led.ini %s: GetPrivateProfileIntA = %u\n", c.name, read);
        int expectedFlag = c.flag == kFromSystem ? (read != 0) : c.flag < 0 ? 0 : c.flag;
        EXPECT_EQ(read != 0, expectedFlag == 1) << "this system reads " << read;

        WrSimLogClear();
        VorlaneProcess program(fresh);
        EXPECT_EQ(TripleOfRunningProgram(program),
                  expectedFlag ? kTripleFlagSet : kTripleFlagClear);
    }
}

// Creates every folder of a \\?\ path.
void CreateFolders(const std::wstring& path) {
    for (size_t i = path.find(L'\\', 7); i != std::wstring::npos; i = path.find(L'\\', i + 1)) {
        ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
    ::CreateDirectoryW(path.c_str(), nullptr);
}

// A folder under the temporary folder named `name` and the test's process id,
// whose Vorlane.exe has a path of at least `exeLength` characters, holding
// the program, its guardian, the library and a Led.ini that selects the flag;
// all made through \\?\ paths, which have no MAX_PATH.
class DeepInstall {
  public:
    explicit DeepInstall(size_t exeLength, const wchar_t* name = L"vorlane-deep-") {
        wchar_t tmp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, tmp);
        m_root = std::wstring(L"\\\\?\\") + tmp + name + std::to_wstring(::GetCurrentProcessId());
        std::wstring dir = m_root;
        const size_t kExeName = 12;  // "\Vorlane.exe"
        while (Plain(dir).size() + kExeName < exeLength) {
            size_t part = exeLength - Plain(dir).size() - kExeName - 1;
            // Never leave a remainder that would need an empty folder name.
            if (part > 100) part = part - 100 < 2 ? 50 : 100;
            dir += L"\\" + std::wstring(part, L'd');
        }
        m_dir = dir;
        CreateFolders(m_dir + L"\\data");
        std::wstring src = Widen(TestBinaryDir());
        m_copied = true;
        for (const wchar_t* file : {L"\\Vorlane.exe", L"\\VorlaneGuard.exe", L"\\WrRdIO.dll"}) {
            m_copied = m_copied && ::CopyFileW((src + file).c_str(), (m_dir + file).c_str(), FALSE);
        }
        HANDLE h = ::CreateFileW((m_dir + L"\\data\\Led.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const char kIni[] = "[PLATFORM_TYPE]\r\nValue=1\r\n";
        DWORD written = 0;
        m_copied = m_copied && h != INVALID_HANDLE_VALUE &&
                   ::WriteFile(h, kIni, sizeof(kIni) - 1, &written, nullptr);
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    ~DeepInstall() { RemoveFolderTree(m_root); }
    bool Ready() const { return m_copied; }
    std::wstring Exe() const { return Plain(m_dir) + L"\\Vorlane.exe"; }
    std::wstring PrefixedExe() const { return m_dir + L"\\Vorlane.exe"; }
    std::wstring IniPath() const { return Plain(m_dir) + L"\\data\\Led.ini"; }

  private:
    static std::wstring Plain(const std::wstring& prefixed) { return prefixed.substr(4); }
    std::wstring m_root, m_dir;
    bool m_copied = false;
};

// Wine 8 cannot start a program whose path is longer than MAX_PATH - 1:
// CreateProcessW fails with ERROR_FILE_NOT_FOUND or ERROR_INVALID_NAME, for a
// \\?\ path and for its 8.3 short form alike, and given a current directory
// beyond MAX_PATH it corrupts the caller's heap (so none is passed here).
// Where the system does start one (Windows with long paths enabled), it must
// run like any other copy. The longest paths Wine starts are run in full: at
// 259 characters the program's 260-byte path buffer is exactly full.
TEST_F(BadInputTest, LongInstallPathsStartCleanlyOrNotAtAll) {
    {
        DeepInstall deep(300);
        ASSERT_TRUE(deep.Ready());
        for (const std::wstring& exe : {deep.PrefixedExe(), deep.Exe()}) {
            WrSimLogClear();
            VorlaneProcess program(exe);
            printf("[   INFO   ] 300-character path%s: %s (error %lu)\n",
                   exe[0] == L'\\' && exe[1] == L'\\' ? " with \\\\?\\" : "",
                   program.Started() ? "started" : "not started", program.StartError());
            if (!program.Started()) continue;
            EXPECT_FALSE(TripleOfRunningProgram(program).empty()) << "started but does not sample";
        }
    }

    // From 257 characters on, Led.ini's path no longer fits in MAX_PATH - 1; it
    // is read all the same.
    for (size_t length : {MAX_PATH - 3, MAX_PATH - 1}) {
        SCOPED_TRACE(length);
        DeepInstall deep(length);
        ASSERT_TRUE(deep.Ready());
        ASSERT_EQ(deep.Exe().size(), length);
        WrSimLogClear();
        VorlaneProcess program(deep.Exe());
        ASSERT_TRUE(program.Started()) << "error " << program.StartError();
        EXPECT_EQ(TripleOfRunningProgram(program), kTripleFlagSet);
        EXPECT_TRUE(program.Running());
    }
}

// A folder named outside the ANSI code page (Cyrillic, under code page 1252):
// Led.ini is read from it, and the guardian started from it hands the fan
// back after a kill, with the same triple.
TEST_F(BadInputTest, FolderNamedOutsideTheCodePageReadsLedIniAndGuardsTheFan) {
    DeepInstall install(0, L"\u0432\u0435\u043d\u0442\u0438\u043b\u044f\u0442\u043e\u0440-");
    ASSERT_TRUE(install.Ready());
    VorlaneProcess program(install.Exe());
    ASSERT_TRUE(program.Started()) << "error " << program.StartError();
    EXPECT_EQ(TripleOfRunningProgram(program), kTripleFlagSet);
    program.Click(IDC_TEST);
    ASSERT_EQ(WrSimPeek(kRegManualMode), 1);
    DWORD from = WrSimLogCount();
    program.Kill();
    EXPECT_TRUE(WaitFor([] { return WrSimPeek(kRegManualMode) == 0 && GuardianPids().empty(); }))
        << "the fan stayed manual";
    WRSIM_CALL c = {};
    ASSERT_TRUE(WrSimLogGet(from, &c));
    EXPECT_EQ(Reg(c), kRegManualMode);
    EXPECT_EQ(std::vector<int>({c.args[5], c.args[6], c.args[7]}), kTripleFlagSet);
}

TEST_F(BadInputTest, MissingLibraryEndsTheProcessWithoutAWindow) {
    ASSERT_TRUE(::DeleteFileA((dir.Path() + "\\WrRdIO.dll").c_str()));
    // On Windows the loader would otherwise wait in a message box for a user.
    UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    VorlaneProcess program(dir);
    ::SetErrorMode(oldMode);
    ASSERT_TRUE(program.Started());
    bool sawWindow = false;
    bool ended = WaitFor(
        [&] {
            if (!TopLevelWindowsOf(program.Pid()).empty()) sawWindow = true;
            return !program.Running();
        },
        30000);
    ASSERT_TRUE(ended) << "still running without its library";
    EXPECT_FALSE(sawWindow);
    EXPECT_EQ(program.ExitCode(), kStatusDllNotFound) << std::hex << program.ExitCode();
}

// The single-instance rule rests on the window alone: copies started before any
// window exists may all keep running, each with its own window. None may crash.
TEST_F(BadInputTest, ManyCopiesAtOnceLeaveOnlyCopiesWithWindows) {
    for (size_t count : {2u, 3u, 10u}) {
        SCOPED_TRACE(std::to_string(count) + " copies");
        WrSimLogClear();
        std::vector<std::unique_ptr<VorlaneProcess>> copies;
        for (size_t i = 0; i < count; ++i) copies.emplace_back(new VorlaneProcess(dir));
        for (const auto& c : copies) ASSERT_TRUE(c->Started());

        // Settled: every copy has either ended or shows its window.
        bool settled = WaitFor(
            [&] {
                for (const auto& c : copies) {
                    if (c->Running() && c->WaitForMainWindow(0) == nullptr) return false;
                }
                return true;
            },
            120000);
        EXPECT_TRUE(settled);

        size_t survivors = 0;
        for (const auto& c : copies) {
            if (c->Running()) {
                ++survivors;
                EXPECT_NE(c->MainWindow(), nullptr);
                EXPECT_TRUE(WaitForCalls(c->Pid(), 2, 15000)) << "survivor does not sample";
                EXPECT_TRUE(c->Running());
            } else {
                DWORD code = c->ExitCode();
                EXPECT_LT(code, 0x80000000u) << "ended with exception " << std::hex << code;
                // It found a window and ended before its own dialog.
                EXPECT_TRUE(CallsOf(c->Pid()).empty());
            }
        }
        EXPECT_GE(survivors, 1u);

        // Once windows exist, one more copy finds them and ends untouched.
        VorlaneProcess late(dir);
        ASSERT_TRUE(late.Started());
        EXPECT_TRUE(late.WaitForExit(30000)) << "a copy started after the windows kept running";
        EXPECT_LT(late.ExitCode(), 0x80000000u) << std::hex << late.ExitCode();
        EXPECT_TRUE(CallsOf(late.Pid()).empty());
        for (const auto& c : copies) {
            if (c->MainWindow() != nullptr) {
                EXPECT_TRUE(c->Running());
            }
        }
        printf("[   INFO   ] %u copies at once: %u kept running\n", static_cast<unsigned>(count),
               static_cast<unsigned>(survivors));
        for (auto& c : copies) c->Kill();
    }
}

}  // namespace
