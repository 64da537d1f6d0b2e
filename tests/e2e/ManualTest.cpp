// Manual fan control against the real program: what reaches the EC, in which
// order, and that every way out hands the fan back.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include "ec/EcProtocol.h"
#include "guard/GuardShared.h"
#include "tests/common/EcTest.h"
#include "ui/resource.h"

namespace {

class ManualTest : public EcTest {
  protected:
    void SetUp() override {
        EcTest::SetUp();
        Start();
    }
    // A write still held would keep a guardian waiting for ever.
    void TearDown() override { WrSimHoldWrites(kRegManualMode, -1); }
    std::vector<WRSIM_CALL> Writes(size_t from = 0) {
        std::vector<WRSIM_CALL> writes;
        std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
        for (size_t i = from; i < calls.size(); ++i) {
            if (calls[i].isWrite) writes.push_back(calls[i]);
        }
        return writes;
    }
    static BYTE Value(const WRSIM_CALL& c) { return c.args[4]; }
    // The fan handed back to the EC, and nothing else written.
    static void ExpectOnlyHandBack(const std::vector<WRSIM_CALL>& writes) {
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(Reg(writes[0]), kRegManualMode);
        EXPECT_EQ(Value(writes[0]), 0);
    }
    // The same, written by the program itself or, when it could not, by its guardian.
    enum Writer { kByProgram, kByGuardian };
    void ExpectOnlyHandBackBy(const std::vector<WRSIM_CALL>& writes, Writer writer) {
        ASSERT_NO_FATAL_FAILURE(ExpectOnlyHandBack(writes));
        if (writer == kByProgram) {
            EXPECT_EQ(writes[0].processId, app->Pid()) << "the program did not hand back itself";
        } else {
            EXPECT_NE(writes[0].processId, app->Pid());
        }
    }
    // The last write of the mode register since the log counted `from` calls.
    static bool LastModeWrite(size_t from, WRSIM_CALL* last) {
        bool found = false;
        for (const WRSIM_CALL& c : WritesByAnyone(from)) {
            if (Reg(c) == kRegManualMode) *last = c, found = true;
        }
        return found;
    }
    // Writes by any process since the log counted `from` calls: the
    // program's, and its guardian's once the program is gone.
    static std::vector<WRSIM_CALL> WritesByAnyone(size_t from) {
        std::vector<WRSIM_CALL> writes;
        WRSIM_CALL c;
        for (DWORD i = 0; WrSimLogGet(i, &c); ++i) {
            if (c.isWrite && c.sequence >= from) writes.push_back(c);
        }
        return writes;
    }
    // A running program (a new one if the last has ended), in manual mode if
    // asked, with the slider off zero.
    void Running(bool manual) {
        if (app == nullptr) {
            app.reset(new VorlaneProcess(dir));
            ASSERT_NE(app->WaitForMainWindow(), nullptr);
        }
        if (!manual) return;
        app->Click(IDC_TEST);
        app->MoveSlider(10);
        ASSERT_EQ(WrSimPeek(kRegManualMode), 1);
    }
    // The program has ended, and so has every process of ours: only then is
    // the count of writes final.
    void WaitForTheEnd() {
        ASSERT_TRUE(app->WaitForExit());
        EXPECT_TRUE(WaitFor([] { return GuardianPids().empty(); })) << "a guardian stayed";
    }
    // Owned by Administrators, and open to Administrators and SYSTEM only.
    static void ExpectLockIsAdministratorsAlone() {
        HANDLE hLock = ::OpenMutexW(READ_CONTROL, FALSE, kFanLockName);
        ASSERT_NE(hLock, nullptr) << "no lock of that name, error " << ::GetLastError();
        PSID pOwner = nullptr;
        PACL pDacl = nullptr;
        PSECURITY_DESCRIPTOR pSD = nullptr;
        ASSERT_EQ(::GetSecurityInfo(hLock, SE_KERNEL_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner,
                                    nullptr, &pDacl, nullptr, &pSD),
                  static_cast<DWORD>(ERROR_SUCCESS));
        ::CloseHandle(hLock);
        std::vector<std::string> sids;
        for (DWORD i = 0; pDacl != nullptr && i < pDacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* pAce = nullptr;
            if (!::GetAce(pDacl, i, reinterpret_cast<void**>(&pAce))) continue;
            sids.push_back(SidText(&pAce->SidStart));
        }
        EXPECT_EQ(SidText(pOwner), "S-1-5-32-544");
        EXPECT_EQ(sids, (std::vector<std::string>{"S-1-5-32-544", "S-1-5-18"}));
        ::LocalFree(pSD);
    }
    static std::string SidText(PSID pSid) {
        LPSTR psz = nullptr;
        if (pSid == nullptr || !::ConvertSidToStringSidA(pSid, &psz)) return "(none)";
        std::string s(psz);
        ::LocalFree(psz);
        return s;
    }
    int SliderPos() {
        return static_cast<int>(::SendMessageA(app->Item(IDC_PWM_SLIDER), TBM_GETPOS, 0, 0));
    }
};

TEST_F(ManualTest, TestWithPwm4SwitchesModeThenZeroesItsDutyAndStopsReadingDuty) {
    app->CheckRadio(IDC_PWM4);
    app->Click(IDC_TEST);
    std::vector<WRSIM_CALL> w = Writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(Reg(w[0]), kRegManualMode);
    EXPECT_EQ(Value(w[0]), 1);
    EXPECT_EQ(
        std::vector<int>(w[0].args, w[0].args + w[0].argCount),
        std::vector<int>({kEcPortCmd, kEcPortData, EcHighByte(kRegManualMode),
                          EcLowByte(kRegManualMode), 1, 6, 7, 8, kEcWriteConst1, kEcWriteConst2}));
    EXPECT_EQ(Reg(w[1]), kRegManualDutyPwm4);
    EXPECT_EQ(Value(w[1]), 0);
    // Wine's tick count can lag by a timer step of ~16 ms on a busy machine:
    // the bound tells a pause from none, not its exact length.
    EXPECT_GE(w[1].tickMs - w[0].tickMs, 60u) << "duty written before the EC had 100 ms";
    EXPECT_EQ(WrSimPeek(kRegManualMode), 1);

    size_t from = CallCount();
    ASSERT_TRUE(WaitForCalls(app->Pid(), from + 6, 15000));
    EXPECT_EQ(app->Text(IDC_PWM_DUTY), "0");
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    for (size_t i = from; i < calls.size(); ++i) {
        EXPECT_NE(Reg(calls[i]), kRegDutyPwm4) << "duty read in manual mode";
        EXPECT_NE(Reg(calls[i]), kRegDutyPwm0) << "duty read in manual mode";
    }
    app->Click(IDC_EXIT);
}

TEST_F(ManualTest, SecondTestPressWritesNothing) {
    app->Click(IDC_TEST);
    size_t writes = Writes().size();
    app->MoveSlider(40);
    size_t afterSlider = Writes().size();
    app->Click(IDC_TEST);
    EXPECT_EQ(Writes().size(), afterSlider);
    EXPECT_EQ(afterSlider, writes + 1);
    EXPECT_EQ(SliderPos(), 40) << "second Test must not reset the slider";
    app->Click(IDC_EXIT);
}

TEST_F(ManualTest, SliderBeforeTestWritesNothingAndTestResetsIt) {
    app->MoveSlider(90);
    app->MoveSlider(91, TB_ENDTRACK);
    EXPECT_TRUE(Writes().empty());
    app->Click(IDC_TEST);
    EXPECT_EQ(SliderPos(), 0);
    EXPECT_EQ(Writes().size(), 2u);
    app->Click(IDC_EXIT);
}

TEST_F(ManualTest, DraggingWritesEveryPositionToTheSelectedChannel) {
    app->Click(IDC_TEST);
    size_t from = CallCount();
    for (int pos = 100; pos <= 127; pos += 9) app->MoveSlider(pos);
    app->MoveSlider(127, TB_THUMBPOSITION);
    app->MoveSlider(127, TB_ENDTRACK);
    std::vector<WRSIM_CALL> w = Writes(from);
    const int kExpected[] = {100, 109, 118, 127, 127, 127};
    ASSERT_EQ(w.size(), 6u);
    for (size_t i = 0; i < w.size(); ++i) {
        EXPECT_EQ(Reg(w[i]), kRegManualDutyPwm0);
        EXPECT_EQ(Value(w[i]), kExpected[i]);
    }
    EXPECT_EQ(WrSimPeek(kRegManualDutyPwm0), 127);

    // Switching the channel sends later writes to the other register only.
    app->CheckRadio(IDC_PWM4);
    from = CallCount();
    app->MoveSlider(64);
    w = Writes(from);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(Reg(w[0]), kRegManualDutyPwm4);
    EXPECT_EQ(Value(w[0]), 64);
    EXPECT_EQ(WrSimPeek(kRegManualDutyPwm0), 127) << "previous channel keeps its last duty";
    EXPECT_TRUE(WaitFor([&] { return app->Text(IDC_PWM_DUTY) == "64"; }));
    app->Click(IDC_EXIT);
}

TEST_F(ManualTest, StopHandsBackInEveryState) {
    app->MoveSlider(30);
    app->Click(IDC_STOP);
    ExpectOnlyHandBack(Writes());
    EXPECT_EQ(SliderPos(), 0);

    app->Click(IDC_TEST);
    app->MoveSlider(50);
    app->Click(IDC_STOP);
    EXPECT_EQ(WrSimPeek(kRegManualMode), 0);
    // After Stop the next duty phase reads the EC's duty register again.
    size_t from = CallCount();
    EXPECT_TRUE(WaitFor(
        [&] {
            std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
            for (size_t i = from; i < calls.size(); ++i) {
                if (Reg(calls[i]) == kRegDutyPwm0) return true;
            }
            return false;
        },
        15000));
    app->Click(IDC_EXIT);
}

void PostCommand(const VorlaneProcess& app, int id) {
    ::PostMessageA(app.MainWindow(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(app.Item(id)));
}

DWORD ThreadOf(HWND hWnd) {
    return ::GetWindowThreadProcessId(hWnd, nullptr);
}

// Has the program's own thread destroy its main window, with no EndDialog.
void DestroyFromInside(const VorlaneProcess& app) {
    HMODULE hHook = ::LoadLibraryA("destroy_hook.dll");
    HOOKPROC pfn = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(::GetProcAddress(hHook, "DestroyOnRequest")));
    HHOOK hHooked = ::SetWindowsHookExA(WH_GETMESSAGE, pfn, hHook, ThreadOf(app.MainWindow()));
    ASSERT_NE(hHooked, nullptr) << "hook not placed";
    ::PostMessageA(app.MainWindow(), ::RegisterWindowMessageA("VorlaneTestDestroyWindow"), 0, 0);
    app.WaitForExit();
    ::UnhookWindowsHookEx(hHooked);
    ::FreeLibrary(hHook);
}

void KillGuardians() {
    for (DWORD pid : GuardianPids()) {
        HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (h == nullptr) continue;
        ::TerminateProcess(h, 1);
        ::WaitForSingleObject(h, 10000);
        ::CloseHandle(h);
    }
}

void EndSession(const VorlaneProcess& app, BOOL bEnding) {
    EXPECT_NE(::SendMessageA(app.MainWindow(), WM_QUERYENDSESSION, 0, 0), 0);
    ::SendMessageA(app.MainWindow(), WM_ENDSESSION, bEnding, 0);
}

// Every way the main window can be asked to end, as another program (or the
// user through the system) would ask. Exit hands back in every state; a
// window that stays open is left by Exit afterwards.
enum Outcome { kCloses, kClosesByExit, kStaysOpen, kKilled };
struct Ending {
    const char* name;
    void (*ask)(const VorlaneProcess& app);
    Outcome outcome;
};

const Ending kEndings[] = {
    {"Exit", [](const VorlaneProcess& a) { PostCommand(a, IDC_EXIT); }, kClosesByExit},
    {"IDCANCEL", [](const VorlaneProcess& a) { PostCommand(a, IDCANCEL); }, kCloses},
    // Nothing in the window asks for OK: it is ignored.
    {"IDOK", [](const VorlaneProcess& a) { PostCommand(a, IDOK); }, kStaysOpen},
    // The close box and the system menu's Close send SC_CLOSE.
    {"SC_CLOSE",
     [](const VorlaneProcess& a) { ::PostMessageA(a.MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0); },
     kCloses},
    {"WM_CLOSE", [](const VorlaneProcess& a) { ::PostMessageA(a.MainWindow(), WM_CLOSE, 0, 0); },
     kCloses},
    {"Alt+F4",
     [](const VorlaneProcess& a) {
         ::SetForegroundWindow(a.MainWindow());
         ::PostMessageA(a.MainWindow(), WM_SYSKEYDOWN, VK_F4, 0x20000000);
         ::PostMessageA(a.MainWindow(), WM_SYSKEYUP, VK_F4, 0xE0000000);
     },
     kCloses},
    {"WM_QUIT",
     [](const VorlaneProcess& a) { ::PostThreadMessageA(ThreadOf(a.MainWindow()), WM_QUIT, 0, 0); },
     kCloses},
    {"destroyed from inside", DestroyFromInside, kCloses},
    {"session end", [](const VorlaneProcess& a) { EndSession(a, TRUE); }, kCloses},
    {"session end cancelled", [](const VorlaneProcess& a) { EndSession(a, FALSE); }, kStaysOpen},
    // Task Manager's End task: no code of the program runs, its guardian
    // hands the fan back.
    {"TerminateProcess", [](const VorlaneProcess& a) { ::TerminateProcess(a.Handle(), 1); },
     kKilled},
    // The program goes on without its guardian and hands back by itself.
    {"guardian killed first", [](const VorlaneProcess&) { KillGuardians(); }, kStaysOpen},
};

TEST_F(ManualTest, EveryWayOutHandsTheFanBackOnceOnlyInManualMode) {
    for (bool manual : {true, false}) {
        for (const Ending& e : kEndings) {
            SCOPED_TRACE(testing::Message() << e.name << (manual ? ", manual" : ", automatic"));
            ASSERT_NO_FATAL_FAILURE(Running(manual));
            // One guardian, nobody's child once its starter has gone: ending the
            // program's process tree leaves it.
            ASSERT_TRUE(WaitFor([&] {
                std::vector<DWORD> guards = GuardianPids();
                return guards.size() == 1 && ParentPid(guards[0]) != app->Pid();
            }));
            size_t from = WrSimLogCount();
            e.ask(*app);
            if (e.outcome == kStaysOpen) {
                // Posted after the request: once it shows, the request was handled.
                ::PostMessageA(app->Item(IDC_PWM4), BM_CLICK, 0, 0);
                ASSERT_TRUE(WaitFor([&] {
                    return ::SendMessageA(app->Item(IDC_PWM4), BM_GETCHECK, 0, 0) == BST_CHECKED;
                })) << "window gone";
                EXPECT_TRUE(WritesByAnyone(from).empty());
                app->Click(IDC_EXIT);
            }
            WaitForTheEnd();
            // The program hands back by itself on every way out but a kill.
            if (manual || e.outcome == kClosesByExit || e.outcome == kStaysOpen) {
                ExpectOnlyHandBackBy(WritesByAnyone(from),
                                     e.outcome == kKilled ? kByGuardian : kByProgram);
            } else {
                EXPECT_TRUE(WritesByAnyone(from).empty());
            }
            app.reset();
        }
    }
}

// A library that crashes takes the program down; in manual mode the fan must
// not stay where the user last put it.
TEST_F(ManualTest, CrashHandsTheFanBackOnlyInManualMode) {
    for (bool manual : {true, false}) {
        SCOPED_TRACE(manual ? "manual" : "automatic");
        if (!manual) app.reset();
        ASSERT_NO_FATAL_FAILURE(Running(manual));
        size_t from = WrSimLogCount();
        WrSimCrashNextRead();
        WaitForTheEnd();
        EXPECT_EQ(app->ExitCode(), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
        if (manual) {
            ExpectOnlyHandBackBy(WritesByAnyone(from), kByProgram);
            EXPECT_EQ(WrSimPeek(kRegManualMode), 0);
        } else {
            EXPECT_TRUE(WritesByAnyone(from).empty());
        }
    }
}

// A hand-back still inside a slow library, by the program closing or by the
// guardian of a program killed meanwhile, is never overtaken: a second copy
// either finds the first window and ends, or its Test leaves the fan alone
// while the 0 is on its way. Once it has landed, Test takes the fan: the EC
// ends in manual mode, as the second window shows.
TEST_F(ManualTest, ASecondCopyTakesTheFanOnlyAfterTheFirstHandedItBack) {
    for (bool kill : {false, true}) {
        SCOPED_TRACE(kill ? "first copy killed in its hand-back" : "first copy closing");
        ASSERT_NO_FATAL_FAILURE(Running(true));
        size_t from = WrSimLogCount();
        WrSimHoldWrites(kRegManualMode, 0);
        ::PostMessageA(app->MainWindow(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitFor([] { return WrSimHeldWrites() >= 1; })) << "no hand-back began";
        if (kill) {
            app->Kill();
            ASSERT_TRUE(WaitFor([] { return WrSimHeldWrites() >= 2; })) << "no guardian took over";
        }

        // Started now, a copy either finds the first one's window and ends, or
        // runs and asks for the fan while the 0 is still on its way.
        std::unique_ptr<VorlaneProcess> second(new VorlaneProcess(dir));
        ASSERT_TRUE(WaitFor([&] { return !second->Running() || second->WaitForMainWindow(0); }));
        auto secondTookFan = [&] {
            std::vector<WRSIM_CALL> w = CallsOf(second->Pid());
            for (const WRSIM_CALL& c : w) {
                if (c.isWrite && Reg(c) == kRegManualMode && Value(c) == 1) return true;
            }
            return false;
        };
        // While the first window exists, its hand-back is under way: a copy
        // started then finds it and ends, as beside any running copy.
        if (!kill) {
            EXPECT_FALSE(second->Running()) << "a copy ran beside one still handing back";
        }
        if (second->Running()) {
            // Its own guardian first (beside the first one's, still writing).
            EXPECT_TRUE(WaitFor([&] {
                size_t watchers = 0;
                for (DWORD pid : GuardianPids()) watchers += ParentPid(pid) != second->Pid();
                return watchers == 2;
            }));
            second->Click(IDC_TEST);
            EXPECT_FALSE(secondTookFan()) << "Test took the fan while a hand-back was on its way";
        }
        WrSimHoldWrites(kRegManualMode, -1);
        if (!kill) {
            ASSERT_TRUE(app->WaitForExit());
        }
        if (!second->Running()) {
            second.reset(new VorlaneProcess(dir));
            ASSERT_NE(second->WaitForMainWindow(), nullptr);
        }
        // The first copy's guardian has done all it would do once it is gone.
        EXPECT_TRUE(WaitFor([] { return GuardianPids().size() == 1; })) << "a guardian stayed";
        second->Click(IDC_TEST);
        ASSERT_TRUE(secondTookFan()) << "the second copy never took the fan";

        WRSIM_CALL last = {};
        ASSERT_TRUE(LastModeWrite(from, &last));
        EXPECT_EQ(last.processId, second->Pid()) << "a hand-back overtook the second copy's Test";
        EXPECT_EQ(WrSimPeek(kRegManualMode), 1);
        second->Click(IDC_EXIT);
        ASSERT_TRUE(second->WaitForExit());
        EXPECT_TRUE(WaitFor([] { return GuardianPids().empty(); })) << "a guardian stayed";
        EXPECT_EQ(WrSimPeek(kRegManualMode), 0);
        app.reset();
    }
}

// The fan lock's name is one any program can take before Vorlane starts. Taken,
// it keeps Test from taking the fan, but neither disarms the guardian nor lets
// the fan be taken without a lock; free, the lock Vorlane makes is
// Administrators' alone, so no other program can wait on it.
TEST_F(ManualTest, ALockNameTakenFirstKeepsTheFanAutomaticAndTheGuardianArmed) {
    const struct {
        const char* name;
        HANDLE (*take)();
        bool testTakesFan;
    } kCases[] = {
        {"name free", [] { return HANDLE(nullptr); }, true},
        {"an event of its name", [] { return ::CreateEventW(nullptr, TRUE, FALSE, kFanLockName); },
         false},
        {"a mutex of its name, free to take",
         [] { return ::CreateMutexW(nullptr, FALSE, kFanLockName); }, false},
    };
    for (const auto& k : kCases) {
        SCOPED_TRACE(k.name);
        app.reset();
        ASSERT_TRUE(WaitFor([] { return GuardianPids().empty(); }));
        HANDLE hTaken = k.take();
        ASSERT_NO_FATAL_FAILURE(Start());
        ASSERT_TRUE(WaitFor([] { return GuardianPids().size() == 1; })) << "no guardian";
        size_t from = WrSimLogCount();
        app->Click(IDC_TEST);
        app->MoveSlider(10);
        if (k.testTakesFan) {
            EXPECT_EQ(WrSimPeek(kRegManualMode), 1);
            ExpectLockIsAdministratorsAlone();
        } else {
            EXPECT_TRUE(WritesByAnyone(from).empty()) << "the fan was taken without a lock";
        }
        app->Kill();
        EXPECT_TRUE(WaitFor([] { return GuardianPids().empty(); })) << "a guardian stayed";
        EXPECT_EQ(WrSimPeek(kRegManualMode), 0);
        if (hTaken != nullptr) ::CloseHandle(hTaken);
    }
}

// Tries to put a planted library where WrRdIO.dll was, as another process
// could once the library is loaded; the destructor puts the real one back.
struct SwappedLibrary {
    explicit SwappedLibrary(const InstallDir& dir)
        : real(dir.Path() + "\\WrRdIO.dll"), aside(dir.Path() + "\\WrRdIO.old") {
        swapped = ::MoveFileA(real.c_str(), aside.c_str()) &&
                  ::CopyFileA((TestBinaryDir() + "\\destroy_hook.dll").c_str(), real.c_str(), TRUE);
    }
    ~SwappedLibrary() {
        if (!swapped) return;
        ::DeleteFileA(real.c_str());
        ::MoveFileA(aside.c_str(), real.c_str());
    }
    std::string real, aside;
    bool swapped;
};

// A guardian holds the library's file, but none runs its code while the
// program does: the library may allow one user at a time.
bool AGuardianLoadedTheLibrary() {
    for (DWORD pid : GuardianPids()) {
        HANDLE hSnap = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
        if (hSnap == INVALID_HANDLE_VALUE) continue;
        MODULEENTRY32W me = {};
        me.dwSize = sizeof(me);
        bool bLoaded = false;
        for (BOOL b = ::Module32FirstW(hSnap, &me); b && !bLoaded;
             b = ::Module32NextW(hSnap, &me)) {
            bLoaded = lstrcmpiW(me.szModule, L"WrRdIO.dll") == 0;
        }
        ::CloseHandle(hSnap);
        if (bLoaded) return true;
    }
    return false;
}

// What may stand between a killed program and its guardian's hand-back.
TEST_F(ManualTest, GuardianHandsBackAfterAKillWhateverStoodInItsWay) {
    const struct {
        const char* name;
        bool killGuardianFirst;  // before Test: the program must start another
        bool swapLibrary;        // after Test
        unsigned lostWrites;     // of 0x9130, after Test
    } kCases[] = {
        {"guardian killed before Test", true, false, 0},
        {"library swapped (or tried) after start", false, true, 0},
        {"first write lost", false, false, 1},
    };
    for (const auto& k : kCases) {
        SCOPED_TRACE(k.name);
        ASSERT_NO_FATAL_FAILURE(Running(false));
        if (k.killGuardianFirst) {
            // The watcher itself, once its starter is gone: a starter killed
            // while it starts the watcher would leave a second one behind.
            ASSERT_TRUE(WaitFor([&] {
                std::vector<DWORD> guards = GuardianPids();
                return guards.size() == 1 && ParentPid(guards[0]) != app->Pid();
            }));
            KillGuardians();
        }
        app->Click(IDC_TEST);
        ASSERT_EQ(WrSimPeek(kRegManualMode), 1);
        ASSERT_TRUE(WaitFor([] { return GuardianPids().size() == 1; }));
        EXPECT_FALSE(AGuardianLoadedTheLibrary());
        std::unique_ptr<SwappedLibrary> swap;
        if (k.swapLibrary) swap.reset(new SwappedLibrary(dir));
        WrSimDropWrites(kRegManualMode, k.lostWrites);
        size_t from = WrSimLogCount();
        app->Kill();
        EXPECT_TRUE(WaitFor([] { return WrSimPeek(kRegManualMode) == 0; }))
            << "the fan stayed manual";
        EXPECT_TRUE(WaitFor([] { return GuardianPids().empty(); })) << "a guardian stayed";
        std::vector<WRSIM_CALL> writes = WritesByAnyone(from);
        EXPECT_EQ(writes.size(), 1u + k.lostWrites);
        for (const WRSIM_CALL& w : writes) {
            EXPECT_EQ(Reg(w), kRegManualMode);
            EXPECT_EQ(Value(w), 0);
        }
        app.reset();
    }
}

}  // namespace
