// CStringW: a wide string for paths, which may hold any character a folder
// name can, whatever the ANSI code page.
#pragma once

#include <windows.h>

#include <string>

class CStringW {
  public:
    CStringW() = default;
    CStringW(const wchar_t* psz) : m_str(psz ? psz : L"") {}
    CStringW(const std::wstring& s) : m_str(s) {}

    operator const wchar_t*() const { return m_str.c_str(); }
    const wchar_t* GetString() const { return m_str.c_str(); }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }

    void Format(const wchar_t* pszFormat, ...);
    int ReverseFind(wchar_t ch) const;
    CStringW Left(int nCount) const;

  private:
    std::wstring m_str;
};

// The full path of a loaded module (the executable for null), however long;
// empty when the system cannot tell.
CStringW AfxGetModulePath(HMODULE hModule);

// `path` as the wide calls take it however long: with \\?\ in front where it
// is too long for the plain form.
CStringW AfxLongPath(const CStringW& path);
