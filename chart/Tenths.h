// A float as printf's "%8.1f" shows it, without the C library's formatter
// where that can be done exactly: a chart formats its newest value for every
// frame that shows a new one, and then finds that code cold.
#pragma once

#include <cmath>
#include <cstddef>

// Writes "%8.1f" of fValue to psz and returns true, or returns false and
// leaves psz alone for what it does not take (NaN, infinities, magnitudes of
// 1e9 and more, or no room). A float times ten is exact in a double, and so
// are its floor and the fraction left; rounding half to even then matches
// the library's correctly rounded conversion.
inline bool FormatTenths(float fValue, char* psz, size_t cch) {
    if (!(std::fabs(fValue) < 1e9f) || cch < 16) return false;
    const double dTenths = static_cast<double>(fValue) * 10.0;
    const double dWhole = std::floor(dTenths);
    const double dFraction = dTenths - dWhole;
    long long nTenths = static_cast<long long>(dWhole);
    if (dFraction > 0.5 || (dFraction == 0.5 && (nTenths & 1) != 0)) ++nTenths;
    unsigned long long nDigits = nTenths < 0 ? 0ULL - static_cast<unsigned long long>(nTenths)
                                             : static_cast<unsigned long long>(nTenths);
    char szDigits[16];
    int i = sizeof(szDigits);
    szDigits[--i] = '\0';
    szDigits[--i] = static_cast<char>('0' + nDigits % 10);
    szDigits[--i] = '.';
    nDigits /= 10;
    do {
        szDigits[--i] = static_cast<char>('0' + nDigits % 10);
        nDigits /= 10;
    } while (nDigits != 0);
    // The library shows the sign of a negative value that rounds to zero.
    if (std::signbit(fValue)) szDigits[--i] = '-';
    const int nLength = static_cast<int>(sizeof(szDigits)) - 1 - i;
    size_t n = 0;
    for (int nPad = 8 - nLength; nPad > 0; --nPad) psz[n++] = ' ';
    for (int j = i; szDigits[j] != '\0'; ++j) psz[n++] = szDigits[j];
    psz[n] = '\0';
    return true;
}
