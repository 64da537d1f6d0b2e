// The application object: single-instance check, then the main dialog.
#pragma once

#include "framework/Afx.h"

class COsterbyApp : public CWinApp {
  public:
    COsterbyApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

// TRUE when no running copy was found; FALSE when one was brought forward.
BOOL CheckPrevInstance();

extern COsterbyApp theApp;
