#include "ui/NativeFileName.h"

namespace {

constexpr char16_t EscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at text[i], 0 when there is none.
qsizetype Utf8Length(const QByteArray& text, qsizetype i)
{
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (qsizetype k = i + 2; k < i + length; ++k)
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

QString FileNameFromNative(const QByteArray& native)
{
    QString name;
    name.reserve(native.size());
    for (qsizetype i = 0; i < native.size();) {
        qsizetype run = i;
        while (run < native.size()) {
            const qsizetype length = Utf8Length(native, run);
            if (length == 0)
                break;
            run += length;
        }
        name += QString::fromUtf8(native.constData() + i, run - i);
        if (run < native.size())
            name += QChar(EscapeBase + static_cast<unsigned char>(native[run++]));
        i = run;
    }
    return name;
}

QByteArray NativeFileName(const QString& name)
{
    QByteArray native;
    native.reserve(name.size());
    for (qsizetype i = 0; i < name.size();) {
        qsizetype run = i;
        while (run < name.size()
               && !(name[run].unicode() >= EscapeBase + 0x80 && name[run].unicode() <= EscapeBase + 0xFF
                    && !(run > 0 && name[run - 1].isHighSurrogate())))
            ++run;
        native += QStringView(name).mid(i, run - i).toUtf8();
        if (run < name.size())
            native += static_cast<char>(name[run++].unicode() - EscapeBase);
        i = run;
    }
    return native;
}
