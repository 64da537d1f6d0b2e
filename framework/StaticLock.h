// A process-wide lock for tables with static storage. Its critical section is
// made on first use and never destroyed, like the tables it guards: wrappers
// with static storage may still reach them while the process's statics are
// torn down. Each Tag type names a lock of its own. A thread may take it again
// while it holds it.
#pragma once

#include <windows.h>

template <class Tag>
class CStaticLock {
  public:
    CStaticLock() { ::EnterCriticalSection(Section()); }
    ~CStaticLock() { ::LeaveCriticalSection(Section()); }
    CStaticLock(const CStaticLock&) = delete;
    CStaticLock& operator=(const CStaticLock&) = delete;

  private:
    static CRITICAL_SECTION* Section() {
        static CRITICAL_SECTION* cs = [] {
            CRITICAL_SECTION* p = new CRITICAL_SECTION;
            ::InitializeCriticalSection(p);
            return p;
        }();
        return cs;
    }
};
