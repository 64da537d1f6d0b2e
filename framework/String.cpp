#include "framework/String.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void CString::Format(const char* pszFormat, ...) {
    // Nearly every text fits here: one pass, and no block of its own on the heap.
    char szShort[256];
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(szShort, sizeof(szShort), pszFormat, copy);
    va_end(copy);
    if (n < 0) {
        m_str.clear();
    } else if (static_cast<size_t>(n) < sizeof(szShort)) {
        m_str.assign(szShort, static_cast<size_t>(n));
    } else {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        vsnprintf(buf.data(), buf.size(), pszFormat, args);
        m_str.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
}

BOOL CString::LoadString(UINT nID) {
    // A string-table entry holds at most 4095 characters.
    char buf[4096];
    int n = ::LoadStringA(::GetModuleHandleA(nullptr), nID, buf, sizeof(buf));
    m_str.assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return n > 0;
}

int CString::ReverseFind(char ch, UINT nCodePage) const {
    int nFound = -1;
    for (size_t i = 0; i < m_str.size(); ++i) {
        BYTE b = static_cast<BYTE>(m_str[i]);
        if (::IsDBCSLeadByteEx(nCodePage, b) && i + 1 < m_str.size()) {
            ++i;
        } else if (m_str[i] == ch) {
            nFound = static_cast<int>(i);
        }
    }
    return nFound;
}

CString CString::Left(int nCount) const {
    if (nCount < 0) nCount = 0;
    return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}
