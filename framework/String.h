// CString: an ANSI string with printf-style formatting and string-table loading.
#pragma once

#include <windows.h>

#include <string>

class CString {
  public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}
    CString(const std::string& s) : m_str(s) {}

    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }

    CString& operator=(const char* psz) {
        m_str = psz ? psz : "";
        return *this;
    }
    bool operator==(const char* psz) const { return m_str == (psz ? psz : ""); }
    bool operator!=(const char* psz) const { return !(*this == psz); }

    void Format(const char* pszFormat, ...);
    BOOL LoadString(UINT nID);

    // The last character ch, found by characters of the code page: on a
    // double-byte page a trail byte may equal ch without being that character.
    int ReverseFind(char ch, UINT nCodePage = CP_ACP) const;
    CString Left(int nCount) const;

  private:
    std::string m_str;
};
