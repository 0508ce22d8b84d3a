#pragma once

// Numbers as an HP-GL/2 PE instruction carries them, written from the
// language's reference for tests that read such files.

#include <QByteArray>

#include <cstdlib>
#include <initializer_list>

// Each number with its sign in the lowest bit, in base 64 (base 32 for
// 7-bit lines), least significant digit first; the last digit is told apart
// by its range.
inline QByteArray PeNumbers(std::initializer_list<int> numbers, bool sevenBit = false)
{
    const int base = sevenBit ? 32 : 64;
    QByteArray out;
    for (int n : numbers) {
        long long v = n >= 0 ? 2LL * n : 2LL * std::llabs(n) + 1;
        for (; v >= base; v /= base)
            out += char(63 + v % base);
        out += char((sevenBit ? 95 : 191) + v);
    }
    return out;
}
