#include "framework/StringW.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

void CStringW::Format(const wchar_t* pszFormat, ...) {
    // The wide printf cannot measure its output: grow until it fits.
    for (size_t n = 256; n <= 65536; n *= 2) {
        std::vector<wchar_t> buf(n);
        va_list args;
        va_start(args, pszFormat);
        int written = vswprintf(buf.data(), buf.size(), pszFormat, args);
        va_end(args);
        if (written >= 0 && static_cast<size_t>(written) < n) {
            m_str.assign(buf.data(), static_cast<size_t>(written));
            return;
        }
    }
    m_str.clear();
}

int CStringW::ReverseFind(wchar_t ch) const {
    size_t pos = m_str.rfind(ch);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CStringW CStringW::Left(int nCount) const {
    if (nCount < 0) nCount = 0;
    return CStringW(m_str.substr(0, static_cast<size_t>(nCount)));
}

CStringW AfxGetModulePath(HMODULE hModule) {
    // A path may run to 32,767 characters; GetModuleFileNameW says it was cut
    // only by filling the whole buffer.
    for (DWORD n = MAX_PATH; n <= 32768; n *= 2) {
        std::vector<wchar_t> buf(n);
        DWORD len = ::GetModuleFileNameW(hModule, buf.data(), n);
        if (len == 0) return CStringW();
        if (len < n) return CStringW(std::wstring(buf.data(), len));
    }
    return CStringW();
}

CStringW AfxLongPath(const CStringW& path) {
    const wchar_t* psz = path.GetString();
    if (path.GetLength() < MAX_PATH || wcsncmp(psz, L"\\\\?\\", 4) == 0 ||
        wcsncmp(psz, L"\\\\.\\", 4) == 0) {
        return path;
    }
    // A share's \\server\share\... is written \\?\UNC\server\share\... in that form.
    if (wcsncmp(psz, L"\\\\", 2) == 0) return CStringW(std::wstring(L"\\\\?\\UNC\\") + (psz + 2));
    return CStringW(std::wstring(L"\\\\?\\") + psz);
}
