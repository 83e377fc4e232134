#include "label/qr_symbol.h"

#include <qrencode.h>

QrSymbol qr_symbol(const QString &text)
{
    QrSymbol symbol;
    const QByteArray bytes = text.toUtf8();
    QRcode *code = QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_Q);
    if (!code)
        return symbol;
    symbol.size = code->width;
    symbol.dark.resize(size_t(code->width) * size_t(code->width));
    // Bit 0 of each byte is the module's colour; the others say what the
    // module is part of.
    for (size_t i = 0; i < symbol.dark.size(); ++i)
        symbol.dark[i] = code->data[i] & 1;
    QRcode_free(code);
    return symbol;
}

int qr_symbol_modules(const QString &text)
{
    return qr_symbol(text).size;
}
