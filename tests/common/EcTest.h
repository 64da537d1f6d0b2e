// The fixture of every test that talks to the simulated EC: the test gets an
// EC of its own, freshly reset and frozen (only what the test sets moves it),
// with an empty call log; Start() runs the program against it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tests/common/Harness.h"

class EcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnSimulatedEc();
        WrSimReset(1);
        WrSimFreeze(TRUE);
        WrSimLogClear();
    }
    // The program from this test's install folder, with its main window up.
    // A copy started earlier ends first: it would keep the new one from running.
    void Start() {
        app.reset();
        app.reset(new VorlaneProcess(dir));
        ASSERT_NE(app->WaitForMainWindow(), nullptr);
    }
    size_t CallCount() const { return CallsOf(app->Pid()).size(); }

    InstallDir dir;
    std::unique_ptr<VorlaneProcess> app;
};
