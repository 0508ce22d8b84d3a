#include "plot/PlotTextReader.h"

#include "common/Exceptions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>

// Lines are parsed in place as spans of code units: bytes for 8-bit and UTF-8
// text and for lines in memory, char16_t for UTF-16 text. Every character the
// parser looks for (P U D, space, semicolon, signs, digits, hex prefixes) is
// ASCII, and in an ASCII-compatible encoding no byte of a multi-byte character
// is ASCII, so the raw bytes give the same slices as the decoded text. Only a
// slice named in an error message is ever decoded.

namespace {

// ---------------------------------------------------------------------------
// Integer conversion

int HexDigit(char32_t c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Code unit as an unsigned value, so a byte above 0x7F never compares equal to
// an ASCII character.
template <typename Ch>
constexpr char32_t Unit(Ch c)
{
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<Ch>>(c));
}

// Leading blanks (U+0020 only), one sign, then decimal digits or a hex prefix
// ("$", "x", "X", "0x", "0X") with 1 to 8 hex digits taken as a 32-bit
// pattern. Nothing may follow the digits.
template <typename Ch>
std::optional<std::int32_t> TextToInt(const Ch* p, std::ptrdiff_t n)
{
    std::ptrdiff_t i = 0;
    while (i < n && Unit(p[i]) == ' ')
        ++i;
    bool negative = false;
    if (i < n && (Unit(p[i]) == '+' || Unit(p[i]) == '-')) {
        negative = Unit(p[i]) == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && (Unit(p[i]) == '$' || Unit(p[i]) == 'x' || Unit(p[i]) == 'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < n && Unit(p[i]) == '0' && (Unit(p[i + 1]) == 'x' || Unit(p[i + 1]) == 'X')) {
        hex = true;
        i += 2;
    }
    const std::ptrdiff_t digits = n - i;
    if (digits <= 0)
        return std::nullopt;

    if (hex) {
        if (digits > 8)
            return std::nullopt;
        std::uint32_t pattern = 0;
        for (; i < n; ++i) {
            const int d = HexDigit(Unit(p[i]));
            if (d < 0)
                return std::nullopt;
            pattern = (pattern << 4) | static_cast<std::uint32_t>(d);
        }
        // Unsigned negation, then a modular conversion: "-$80000000" is
        // INT32_MIN without overflowing anything.
        return static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
    }

    constexpr std::uint64_t magnitudeLimit = 2147483648u; // |INT32_MIN|
    std::uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const char32_t c = Unit(p[i]);
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > magnitudeLimit)
            return std::nullopt;
    }
    if (negative)
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    if (magnitude == magnitudeLimit)
        return std::nullopt;
    return static_cast<std::int32_t>(magnitude);
}

// Thousandths of an inch to hundredths of a millimetre, truncated toward zero.
// Values beyond about +-845 million no longer fit; they are refused rather
// than wrapped into a wrong coordinate.
std::optional<std::int32_t> ScaleToLogical(std::int32_t v)
{
    const std::int64_t scaled = static_cast<std::int64_t>(v) * 254 / 100;
    if (scaled < INT32_MIN || scaled > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(scaled);
}

// Offending text is quoted up to this many characters, then cut with an
// ellipsis: a number megabytes long would otherwise freeze the error box.
constexpr std::ptrdiff_t MaxQuoted = 64;

// Enough code units to decode more than MaxQuoted characters: a character
// takes at most four bytes, or two UTF-16 units.
template <typename Ch>
constexpr std::ptrdiff_t QuotedUnits = sizeof(Ch) == 1 ? 4 * (MaxQuoted + 1) : MaxQuoted + 1;

[[noreturn]] void ThrowNotInteger(const std::string& text)
{
    throw EConvertError(Format("''%1'' is not a valid integer value", ShortenedForMessage(text)));
}

[[noreturn]] void ThrowOutOfRange(const std::string& text)
{
    throw EConvertError(Format("''%1'' is out of range for a plot coordinate", ShortenedForMessage(text)));
}

// ---------------------------------------------------------------------------
// One line

// Decode turns a slice of the line into text for an error message.
template <typename Ch, typename Decode>
void ReadLine(TPLT& store, const Ch* p, std::ptrdiff_t n, const Decode& decode)
{
    // First "PU", first "PD" (ASCII letters in either case), first space and
    // first semicolon of the whole line.
    std::ptrdiff_t pu = -1, pd = -1, space = -1, semicolon = -1;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        const char32_t c = Unit(p[i]);
        if (c == ' ') {
            if (space < 0)
                space = i;
        } else if (c == ';') {
            if (semicolon < 0)
                semicolon = i;
        } else if ((c | 0x20) == 'p' && i + 1 < n) {
            const char32_t next = Unit(p[i + 1]) | 0x20;
            if (next == 'u' && pu < 0)
                pu = i;
            else if (next == 'd' && pd < 0)
                pd = i;
        }
        if (pu >= 0 && space >= 0 && semicolon >= 0)
            break;
    }

    const bool penUp = pu >= 0;
    const std::ptrdiff_t c = penUp ? pu : pd;
    if (c < 0 || space < 0 || semicolon < 0)
        return;

    const std::ptrdiff_t xStart = c + 2;
    const std::ptrdiff_t xCount = std::max<std::ptrdiff_t>(space - c - 2, 0);
    const std::ptrdiff_t yStart = space + 1;
    const std::ptrdiff_t yCount = std::max<std::ptrdiff_t>(semicolon - space - 1, 0);

    // Only the start of a slice is decoded for a message; see ShortenedForMessage.
    const auto quoted = [&](std::ptrdiff_t start, std::ptrdiff_t count) {
        return decode(p + start, std::min(count, QuotedUnits<Ch>));
    };
    const auto x = TextToInt(p + xStart, xCount);
    if (!x)
        ThrowNotInteger(quoted(xStart, xCount));
    const auto y = TextToInt(p + yStart, yCount);
    if (!y)
        ThrowNotInteger(quoted(yStart, yCount));

    const auto lx = ScaleToLogical(*x);
    if (!lx)
        ThrowOutOfRange(quoted(xStart, xCount));
    const auto ly = ScaleToLogical(*y);
    if (!ly)
        ThrowOutOfRange(quoted(yStart, yCount));

    if (penUp)
        store.AddPolygon();
    store.AddPoint({*lx, *ly});
}

// ---------------------------------------------------------------------------
// Line splitting

// Calls fn(begin, count) for each line. Lines end at CR, LF or CRLF; a last
// line without terminator counts, a final terminator adds no empty line, and
// the text ends at the first NUL.
template <typename Ch, typename Fn>
void ForEachLine(const Ch* text, std::ptrdiff_t n, Fn&& fn)
{
    const Ch* const end = std::find(text, text + n, Ch(0));
    const Ch* p = text;
    while (p < end) {
        const Ch* q = p;
        while (q < end && Unit(*q) != '\r' && Unit(*q) != '\n')
            ++q;
        fn(p, static_cast<std::ptrdiff_t>(q - p));
        if (q == end)
            break;
        if (Unit(*q) == '\r' && q + 1 < end && Unit(q[1]) == '\n')
            q += 2;
        else
            ++q;
        p = q;
    }
}

// ---------------------------------------------------------------------------
// Decoding

// A leading U+FEFF stays: it is text there, not a mark.
std::string Utf16Slice(const char16_t* p, std::ptrdiff_t n)
{
    return Utf8FromUtf16(std::u16string_view(p, static_cast<std::size_t>(n)));
}

// A U+FEFF at the start of a slice stays (it is text there, not a mark), and
// an incomplete sequence at the end becomes a replacement character.
std::string DecodeBytes(const char* p, std::ptrdiff_t n)
{
    return ValidUtf8(std::string_view(p, static_cast<std::size_t>(n)));
}

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (overlong forms, surrogates and code points above U+10FFFF included), or -1.
std::ptrdiff_t FindInvalidUtf8(const unsigned char* s, std::ptrdiff_t n)
{
    std::ptrdiff_t i = 0;
    while (i < n) {
        if (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, s + i, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::ptrdiff_t length;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return i;
        }
        if (n - i < length || s[i + 1] < low || s[i + 1] > high)
            return i;
        for (std::ptrdiff_t k = 2; k < length; ++k) {
            if (s[i + k] < 0x80 || s[i + k] > 0xBF)
                return i;
        }
        i += length;
    }
    return -1;
}

// Hands the decoded text to fn(units, count, decodeSlice), where units are
// bytes or char16_t. Throws EFileError for content that cannot be decoded.
template <typename Fn>
void WithText(std::string_view data, const std::string& fileName, Fn&& fn)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const auto size = static_cast<std::ptrdiff_t>(data.size());

    const bool utf16le = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    const bool utf16be = !utf16le && size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
    if (utf16le || utf16be) {
        const std::ptrdiff_t byteCount = size - 2;
        // A trailing half code unit means the file was cut short.
        if (byteCount % 2 != 0)
            throw EFileError(Format("The file \"%1\" is not valid UTF-16 text: it ends in the middle of a "
                                    "character",
                                    fileName));
        std::u16string units(static_cast<std::size_t>(byteCount / 2), u'\0');
        const unsigned char* b = bytes + 2;
        const int hiByte = utf16le ? 1 : 0;
        for (std::size_t k = 0; k < units.size(); ++k, b += 2)
            units[k] = static_cast<char16_t>((b[hiByte] << 8) | b[1 - hiByte]);
        fn(units.data(), static_cast<std::ptrdiff_t>(units.size()), Utf16Slice);
        return;
    }

    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        const std::ptrdiff_t bad = FindInvalidUtf8(bytes + 3, size - 3);
        if (bad >= 0)
            throw EFileError(Format("The file \"%1\" is not valid UTF-8 text: invalid byte sequence at "
                                    "offset %2",
                                    fileName, bad + 3));
        fn(data.data() + 3, size - 3, DecodeBytes);
        return;
    }

    // No mark: UTF-8, as the systems the program runs on keep text
    // (undecodable bytes become replacement characters, as with a code page).
    fn(data.data(), size, DecodeBytes);
}

// ---------------------------------------------------------------------------
// Filling the store

// Reads into a fresh store and hands it over at the end, so that running out
// of memory leaves Store as it was; a conversion error hands over what was
// read before the failing line. Fill(store) adds the lines.
template <typename Fill>
void Refill(TPLT& Store, std::size_t maxPoints, const std::string& what, Fill&& fill)
{
    try {
        TPLT fresh;
        // One point per line at most, and a polyline only with its first
        // point: reserving that up front means the arrays never regrow.
        fresh.Reserve(maxPoints, maxPoints);
        try {
            fill(fresh);
        } catch (const EConvertError&) {
            fresh.Squeeze();
            Store = std::move(fresh);
            throw;
        }
        fresh.Squeeze();
        Store = std::move(fresh);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(Format("Out of memory while reading %1", what));
    }
}

// Every line that adds a point holds at least "PU0 0;", and all but the last
// a line end, so n code units hold at most (n + 1) / 7 such lines.
std::size_t MaxPointLines(std::ptrdiff_t units)
{
    return static_cast<std::size_t>((units + 1) / 7);
}

} // namespace

void ReadPlotText(TPLT& Store, const std::vector<std::string>& Lines)
{
    Refill(Store, Lines.size(), "the plot", [&](TPLT& store) {
        for (const std::string& line : Lines)
            ReadLine(store, line.data(), static_cast<std::ptrdiff_t>(line.size()), DecodeBytes);
    });
}

void ReadPlotData(TPLT& Store, std::string_view Data, const std::string& FileName)
{
    const std::string what = Format("the file \"%1\"", FileName);
    try {
        WithText(Data, FileName, [&](const auto* text, std::ptrdiff_t size, const auto& decode) {
            Refill(Store, MaxPointLines(size), what, [&](TPLT& store) {
                ForEachLine(text, size,
                            [&](const auto* line, std::ptrdiff_t count) { ReadLine(store, line, count, decode); });
            });
        });
    } catch (const std::bad_alloc&) {
        // Decoding UTF-16 copies the text first.
        throw EOutOfMemory(Format("Out of memory while reading %1", what));
    }
}

std::vector<std::string> PlotDataLines(std::string_view Data, const std::string& FileName)
{
    std::vector<std::string> lines;
    WithText(Data, FileName, [&](const auto* text, std::ptrdiff_t size, const auto& decode) {
        ForEachLine(text, size, [&](const auto* line, std::ptrdiff_t count) { lines.push_back(decode(line, count)); });
    });
    return lines;
}

std::string ShortenedForMessage(std::string_view Text)
{
    return Quoted(Text);
}

namespace {

// Whether decoded text is in the sample's layout, lines found as
// ForEachLine finds them, each as ReadLine would see it. Stops at the first
// line out of the layout: a file of HP-GL on one line is not walked twice.
template <typename Ch>
bool TextInSampleLayout(const Ch* text, std::ptrdiff_t n)
{
    // The text ends at its first NUL, found as the walk reaches it: a line
    // out of the layout ends the walk long before.
    const Ch* end = text + n;
    const auto lineEnd = [&end](const Ch* q) {
        if (Unit(*q) == 0)
            end = q;
        return Unit(*q) == '\r' || Unit(*q) == '\n' || Unit(*q) == 0;
    };
    // 'u' or 'd' where "PU" or "PD" starts (either case), else 0.
    const auto move = [&end](const Ch* q) -> char32_t {
        if (q + 1 >= end || (Unit(q[0]) | 0x20) != 'p')
            return 0;
        const char32_t c = Unit(q[1]) | 0x20;
        return c == 'u' || c == 'd' ? c : 0;
    };
    bool penUp = false; // a pen-up line came before
    const Ch* p = text;
    while (p < end) {
        const Ch* q = p;
        if (const char32_t first = move(p)) {
            // A pen-down line before any pen-up line would be dropped, and
            // one holding a PU is a pen-up line that starts elsewhere.
            if (first == 'd' && !penUp)
                return false;
            const Ch *space = nullptr, *semicolon = nullptr;
            for (q = p + 2; q < end && !lineEnd(q); ++q) {
                if (semicolon) {
                    if (Unit(*q) != ' ' && Unit(*q) != '\t')
                        return false;
                } else if (Unit(*q) == ';') {
                    semicolon = q;
                } else if (Unit(*q) == ' ') {
                    space = space ? space : q;
                } else if (first == 'd' && move(q) == 'u') {
                    return false;
                }
            }
            if (!space || space == p + 2 || !semicolon)
                return false;
            penUp = true;
        } else {
            for (; q < end && !lineEnd(q); ++q) {
                if (move(q))
                    return false;
            }
        }
        if (q == end)
            break;
        p = q + (Unit(*q) == '\r' && q + 1 < end && Unit(q[1]) == '\n' ? 2 : 1);
    }
    return penUp;
}

} // namespace

bool InSampleLayout(std::string_view Data, const std::string& FileName)
{
    bool inLayout = false;
    WithText(Data, FileName,
             [&](const auto* text, std::ptrdiff_t size, const auto&) { inLayout = TextInSampleLayout(text, size); });
    return inLayout;
}
