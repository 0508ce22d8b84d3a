#pragma once

// Text as the program handles it: UTF-8 in std::string. Messages are built
// with Format, which fills "%1".."%9" the way the messages have always read,
// numbers written in the C locale whatever the user's.

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// A number as messages show it: six significant digits, trailing zeros
// dropped, an exponent for very large or small values ("0.333333",
// "1.23457e+08", "1e+300").
std::string Number(double value);
// A number with a fixed count of decimals ("2.50").
std::string FixedNumber(double value, int decimals);

namespace TextDetail {

inline std::string Piece(std::string_view text)
{
    return std::string(text);
}
inline std::string Piece(const std::string& text)
{
    return text;
}
inline std::string Piece(const char* text)
{
    return std::string(text);
}
inline std::string Piece(char c)
{
    return std::string(1, c);
}
inline std::string Piece(double value)
{
    return Number(value);
}
inline std::string Piece(float value)
{
    return Number(value);
}
// Plain type traits rather than concepts: Qt's moc reads this header too.
template <typename T,
          typename = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, bool>>>
std::string Piece(T value)
{
    return std::to_string(value);
}

std::string Fill(std::string_view pattern, const std::string* pieces, int count);

} // namespace TextDetail

// pattern with its place markers filled: the lowest-numbered marker by the
// first value, the next by the second, and so on, each wherever it stands.
// Values are put in whole, markers inside them left as they are. Markers
// without a value stay.
template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args)
{
    const std::string pieces[] = {TextDetail::Piece(args)..., std::string()};
    return TextDetail::Fill(pattern, pieces, static_cast<int>(sizeof...(Args)));
}

// A value the user gave, cut to 64 characters with an ellipsis for quoting in
// a message: a value megabytes long would otherwise flood the error report.
// Characters are counted in UTF-16 units (one beyond the basic plane counts
// as two), and none is ever cut.
std::string Quoted(std::string_view text);

// Removes trailing blanks and full stops, as system error texts are quoted
// inside our own sentences.
std::string TrimSystemText(std::string_view text);

// Without white space (Unicode's) at either end.
std::string Trimmed(std::string_view text);

// The parts between separators, empty ones included.
std::vector<std::string> Split(std::string_view text, char separator);
// The words between runs of white space or of the given separators.
std::vector<std::string> Words(std::string_view text, std::string_view separators = {});
std::string Join(const std::vector<std::string>& parts, std::string_view separator);

// Case-blind for ASCII letters only: every word compared is ASCII.
bool SameWord(std::string_view a, std::string_view b);
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// A whole decimal number with an optional sign, white space around it
// allowed; nullopt for anything else or a value out of range.
std::optional<int> IntFromText(std::string_view text);
std::optional<long long> LongFromText(std::string_view text);
// A decimal number ("2", "-0.5", "1e3", ".5", "inf"), white space around it
// allowed; nullopt for anything else or a value too large for a double.
std::optional<double> DoubleFromText(std::string_view text);

// Text decoded from UTF-8 as a reader takes it: each byte that does not start
// a well-formed sequence becomes U+FFFD, and a leading byte-order mark is
// dropped when dropMark is set.
std::string ValidUtf8(std::string_view bytes, bool dropMark = false);
// The length of text in UTF-16 code units, as ValidUtf8 would decode it.
std::size_t Utf16Length(std::string_view bytes);
// UTF-16 code units as UTF-8; a lone surrogate becomes '?'.
std::string Utf8FromUtf16(std::u16string_view units);
