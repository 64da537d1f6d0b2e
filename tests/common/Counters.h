// What another process holds, as counted from outside: handles and private
// bytes, by ways that also work under Wine.
#pragma once

#include <windows.h>

#include <map>

// Open handles of the process `pid` (whose handle is `hProcess`); -1 when
// nothing here can count them.
long HandleCount(HANDLE hProcess, DWORD pid);

// Private bytes (commit charge); -1 when they cannot be read.
long long PrivateBytes(HANDLE hProcess);

// Committed private bytes per allocation, keyed by its base: when memory
// grows, the allocations that grew say whose it is (a heap, a thread's stack,
// a mapping).
std::map<ULONG_PTR, SIZE_T> PrivateAllocations(HANDLE hProcess);
