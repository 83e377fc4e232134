#pragma once

#include <QString>

#include <vector>

// A QR code's modules as libqrencode makes them (error level Q, 8-bit mode,
// the smallest version that holds the text).
struct QrSymbol
{
    int size = 0;            // modules a side; 0: the text did not encode
    std::vector<bool> dark;  // row by row
    bool at(int x, int y) const { return dark[size_t(y) * size_t(size) + size_t(x)]; }
};

QrSymbol qr_symbol(const QString &text);
// Modules a side of qr_symbol(text); 0 when it does not encode.
int qr_symbol_modules(const QString &text);
