// Access to the shared section of the simulated EC. The section and its mutex
// are opened at the first call of any export, not when the DLL loads, so a
// process can still choose its EC (WRRDIO_SIM_NAME) before that call.
#pragma once

#include "SimState.h"

namespace wrsim {

// The section without its lock, for single aligned reads only; NULL when the
// section could not be opened.
SIM_SHARED* SharedUnlocked();

// Keeps every other caller, in this process or another, out of the section
// for its lifetime. Evaluates to false when the section is unavailable or
// another process stays inside it for too long.
class CSimLock {
  public:
    CSimLock();
    ~CSimLock();
    CSimLock(const CSimLock&) = delete;
    CSimLock& operator=(const CSimLock&) = delete;

    explicit operator bool() const { return m_pShared != NULL; }
    SIM_SHARED& operator*() const { return *m_pShared; }
    SIM_SHARED* operator->() const { return m_pShared; }

  private:
    SIM_SHARED* m_pShared;
};

// Releases the section when the DLL is unloaded by FreeLibrary.
void CloseSection();

// Takes the section as CSimLock does and keeps it until the process ends
// (a caller that dies inside the EC), for tests.
bool EnterForGood();

}  // namespace wrsim
