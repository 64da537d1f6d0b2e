// The program's own main window, run modally in a benchmark's process: the
// chart, fields and data exchange are the ones Vorlane.exe runs, set up by
// the dialog itself. Its sampling timer is stopped; once the window is up,
// Run() does the benchmark's work and the dialog ends.
#pragma once

#include "ui/OsterbyDlg.h"

class CBenchDialog : public COsterbyDlg {
  public:
    // Runs the dialog to its end, as the main window of this process.
    void RunModal();

  protected:
    BOOL OnInitDialog() override;
    virtual void Run() = 0;

    DECLARE_MESSAGE_MAP()
};
