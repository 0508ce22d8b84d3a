#include "common/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

constexpr std::string_view Replacement = "\xEF\xBF\xBD"; // U+FFFD
constexpr std::string_view Ellipsis = "\xE2\x80\xA6";    // U+2026

// The length of the well-formed UTF-8 sequence at s[i] (no overlong forms,
// surrogates or code points past U+10FFFF), 0 when there is none.
std::size_t SequenceLength(std::string_view s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > s.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = i + 2; k < i + length; ++k)
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
    return length;
}

// The code point of a well-formed sequence.
char32_t Decode(std::string_view s, std::size_t i, std::size_t length)
{
    const auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[k])); };
    if (length == 1)
        return byte(i);
    char32_t c = byte(i) & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        c = (c << 6) | (byte(i + k) & 0x3F);
    return c;
}

void Append(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// White space as Unicode has it.
bool IsSpace(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
           || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The start of the character that ends at `end` (text taken as UTF-8).
std::size_t CharacterStart(std::string_view s, std::size_t end)
{
    std::size_t i = end - 1;
    while (i > 0 && end - i < 4 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
        --i;
    return SequenceLength(s, i) == end - i ? i : end - 1;
}

char32_t CharacterAt(std::string_view s, std::size_t i, std::size_t& length)
{
    length = SequenceLength(s, i);
    if (length == 0) {
        length = 1;
        return 0xFFFD;
    }
    return Decode(s, i, length);
}

std::size_t TrimmedEnd(std::string_view s, bool (*drop)(char32_t))
{
    std::size_t end = s.size();
    while (end > 0) {
        const std::size_t start = CharacterStart(s, end);
        std::size_t length = 0;
        if (!drop(CharacterAt(s, start, length)) || start + length != end)
            break;
        end = start;
    }
    return end;
}

std::string_view WithoutSpaceAround(std::string_view s)
{
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t length = 0;
        if (!IsSpace(CharacterAt(s, begin, length)))
            break;
        begin += length;
    }
    s.remove_prefix(begin);
    return s.substr(0, TrimmedEnd(s, IsSpace));
}

// An optional '+' (never before '-'), as from_chars takes no '+'.
std::string_view WithoutPlus(std::string_view text, bool& refused)
{
    refused = false;
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        refused = text.starts_with('-');
    }
    return text;
}

template <typename T>
std::optional<T> Integer(std::string_view text)
{
    // Only ASCII white space around a whole number, unlike a decimal one.
    const std::size_t first = text.find_first_not_of(" \t\n\v\f\r");
    text = first == std::string_view::npos ? std::string_view() : text.substr(first);
    text = text.substr(0, text.find_last_not_of(" \t\n\v\f\r") + 1);
    bool refused = false;
    text = WithoutPlus(text, refused);
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (refused || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

namespace {

// A finite non-zero magnitude as its exact decimal digits: d0.d1d2... times
// ten to Exponent, with no trailing zeros.
struct Decimal {
    std::string Digits;
    int Exponent = 0;
};

Decimal Exact(double magnitude)
{
    // A double's exact expansion has at most 767 significant digits. to_chars
    // writes the C locale's digits whatever the user's locale.
    char buffer[800];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 770);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e = text.find('e');
    Decimal d;
    d.Digits = std::string(1, text[0]) + std::string(text.substr(2, e - 2));
    while (d.Digits.size() > 1 && d.Digits.back() == '0')
        d.Digits.pop_back();
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), d.Exponent);
    return d;
}

// Keeps `keep` digits, a half rounded away from zero; all digits gone means
// zero (empty Digits).
void RoundTo(Decimal& d, int keep)
{
    if (keep >= static_cast<int>(d.Digits.size()))
        return;
    if (keep < 0) {
        d.Digits.clear();
        return;
    }
    const bool up = d.Digits[static_cast<std::size_t>(keep)] >= '5';
    d.Digits.resize(static_cast<std::size_t>(keep));
    if (!up)
        return;
    int i = keep - 1;
    for (; i >= 0 && d.Digits[static_cast<std::size_t>(i)] == '9'; --i)
        d.Digits[static_cast<std::size_t>(i)] = '0';
    if (i >= 0) {
        ++d.Digits[static_cast<std::size_t>(i)];
    } else {
        d.Digits.insert(d.Digits.begin(), '1');
        ++d.Exponent;
    }
}

char DigitAt(const Decimal& d, int i)
{
    return i >= 0 && i < static_cast<int>(d.Digits.size()) ? d.Digits[static_cast<std::size_t>(i)] : '0';
}

// Digits as a fixed-point number with this many decimals.
std::string Fixed(const Decimal& d, int decimals)
{
    std::string out;
    if (d.Digits.empty() || d.Exponent < 0)
        out += '0';
    else
        for (int i = 0; i <= d.Exponent; ++i)
            out += DigitAt(d, i);
    if (decimals > 0) {
        out += '.';
        for (int k = 1; k <= decimals; ++k)
            out += d.Digits.empty() ? '0' : DigitAt(d, d.Exponent + k);
    }
    return out;
}

std::string NotFinite(double value)
{
    return std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
}

} // namespace

std::string Number(double value)
{
    if (!std::isfinite(value))
        return NotFinite(value);
    if (value == 0)
        return "0";
    constexpr int Precision = 6;
    Decimal d = Exact(std::abs(value));
    RoundTo(d, Precision);
    while (d.Digits.size() > 1 && d.Digits.back() == '0')
        d.Digits.pop_back();
    std::string out = value < 0 ? "-" : "";
    if (d.Exponent >= -4 && d.Exponent < Precision) {
        std::string text = Fixed(d, Precision - 1 - d.Exponent);
        if (text.find('.') != std::string::npos) {
            while (text.back() == '0')
                text.pop_back();
            if (text.back() == '.')
                text.pop_back();
        }
        return out + text;
    }
    out += d.Digits[0];
    if (d.Digits.size() > 1)
        out += '.' + d.Digits.substr(1);
    const int e = std::abs(d.Exponent);
    out += d.Exponent < 0 ? "e-" : "e+";
    if (e < 10)
        out += '0';
    return out + std::to_string(e);
}

std::string FixedNumber(double value, int decimals)
{
    if (!std::isfinite(value))
        return NotFinite(value);
    decimals = std::max(decimals, 0);
    Decimal d;
    if (value != 0) {
        d = Exact(std::abs(value));
        RoundTo(d, d.Exponent + 1 + decimals);
    }
    // A negative value keeps its sign even when it rounds to zero; zero
    // itself, negative or not, has none.
    return (value < 0 ? "-" : "") + Fixed(d, decimals);
}

std::string TextDetail::Fill(std::string_view pattern, const std::string* pieces, int count)
{
    // Markers: '%', then one or two digits.
    const auto marker = [&](std::size_t i, std::size_t& length) {
        if (pattern[i] != '%' || i + 1 >= pattern.size() || pattern[i + 1] < '0' || pattern[i + 1] > '9')
            return -1;
        int number = pattern[i + 1] - '0';
        length = 2;
        if (i + 2 < pattern.size() && pattern[i + 2] >= '0' && pattern[i + 2] <= '9') {
            number = number * 10 + (pattern[i + 2] - '0');
            length = 3;
        }
        return number;
    };
    // The numbers present, lowest first: the k-th lowest takes the k-th value.
    std::vector<int> numbers;
    for (std::size_t i = 0, length = 1; i < pattern.size(); i += length) {
        length = 1;
        if (const int n = marker(i, length); n >= 0 && std::ranges::find(numbers, n) == numbers.end())
            numbers.push_back(n);
    }
    std::ranges::sort(numbers);
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0, length = 1; i < pattern.size(); i += length) {
        length = 1;
        const int n = marker(i, length);
        const auto rank = n < 0 ? numbers.size() : std::ranges::find(numbers, n) - numbers.begin();
        if (n >= 0 && static_cast<int>(rank) < count)
            out += pieces[rank];
        else
            out.append(pattern.substr(i, n >= 0 ? length : 1));
    }
    return out;
}

std::string Quoted(std::string_view text)
{
    // Counted in UTF-16 units, as the messages always were: a character
    // beyond the basic plane counts twice, and is never cut in half.
    constexpr std::size_t Most = 64;
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = std::max<std::size_t>(SequenceLength(text, i), 1);
        units += length == 4 ? 2 : 1;
        if (units > Most)
            return std::string(text.substr(0, i)) + std::string(Ellipsis);
        i += length;
    }
    return std::string(text);
}

std::string TrimSystemText(std::string_view text)
{
    return std::string(text.substr(0, TrimmedEnd(text, [](char32_t c) { return c == '.' || IsSpace(c); })));
}

std::string Trimmed(std::string_view text)
{
    return std::string(WithoutSpaceAround(text));
}

std::vector<std::string> Split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

std::vector<std::string> Words(std::string_view text, std::string_view separators)
{
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 0;
        const char32_t c = CharacterAt(text, i, length);
        if (IsSpace(c) || (c < 0x80 && separators.find(static_cast<char>(c)) != std::string_view::npos)) {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word.append(text.substr(i, length));
        }
        i += length;
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

std::string Join(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += separator;
        out += parts[i];
    }
    return out;
}

bool SameWord(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

std::string AsciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string AsciiUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::optional<int> IntFromText(std::string_view text)
{
    return Integer<int>(text);
}

std::optional<long long> LongFromText(std::string_view text)
{
    return Integer<long long>(text);
}

std::optional<double> DoubleFromText(std::string_view text)
{
    bool refused = false;
    text = WithoutPlus(WithoutSpaceAround(text), refused);
    // from_chars would also take "infinity" and "nan(...)"; "inf" and "nan"
    // are the words.
    const std::string word = AsciiLower(text.starts_with('-') ? text.substr(1) : text);
    if (word.find_first_not_of("0123456789.e+-") != std::string::npos && word != "inf"
        && !(word == "nan" && !text.starts_with('-')))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (refused || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string ValidUtf8(std::string_view bytes, bool dropMark)
{
    if (dropMark && bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = SequenceLength(bytes, i);
        if (length == 0) {
            out += Replacement;
            ++i;
        } else {
            out.append(bytes.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::size_t Utf16Length(std::string_view bytes)
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = SequenceLength(bytes, i);
        units += length == 4 ? 2 : 1;
        i += std::max<std::size_t>(length, 1);
    }
    return units;
}

std::string Utf8FromUtf16(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            Append(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out += '?';
        } else {
            Append(out, u);
        }
    }
    return out;
}
