#include "platform/IniText.h"

#include <charconv>
#include <cstdio>

namespace {

bool IsKeyChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
           || c == '.';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Keys are bytes here: each byte outside the plain set is %XX, which reads
// back the same whatever the bytes are.
std::string EscapedKey(std::string_view key)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : key) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/') {
            out += '\\';
        } else if (IsKeyChar(c)) {
            out += ch;
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

std::string UnescapedKey(std::string_view key)
{
    std::string out;
    for (size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        if (c == '\\') {
            out += '/';
        } else if (c == '%' && i + 5 < key.size() && key[i + 1] == 'U' && HexDigit(key[i + 2]) >= 0
                   && HexDigit(key[i + 3]) >= 0 && HexDigit(key[i + 4]) >= 0 && HexDigit(key[i + 5]) >= 0) {
            unsigned code = 0;
            for (size_t k = i + 2; k < i + 6; ++k)
                code = code * 16 + static_cast<unsigned>(HexDigit(key[k]));
            AppendUtf8(out, code);
            i += 5;
        } else if (c == '%' && i + 2 < key.size() && HexDigit(key[i + 1]) >= 0 && HexDigit(key[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(key[i + 1]) * 16 + HexDigit(key[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string_view Trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A value's items: quotes group, backslash escapes, commas outside quotes
// separate items (a list), ";" outside quotes ends the value.
IniValue UnescapedValue(std::string_view v)
{
    IniValue value;
    std::string item;
    bool quoted = false;
    bool anyQuoted = false;
    // Blanks outside quotes count only between other characters.
    size_t pendingBlanks = 0;
    const auto finishItem = [&] {
        value.Items.push_back(item);
        item.clear();
        pendingBlanks = 0;
        anyQuoted = false;
    };
    size_t i = 0;
    while (i < v.size()) {
        const char c = v[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (!item.empty() || anyQuoted)
                ++pendingBlanks;
            ++i;
            continue;
        }
        if (!quoted && (c == ',' || c == ';')) {
            if (c == ';')
                break;
            value.IsList = true;
            finishItem();
            ++i;
            continue;
        }
        item.append(pendingBlanks, ' ');
        pendingBlanks = 0;
        if (c == '"') {
            quoted = !quoted;
            anyQuoted = true;
            ++i;
            continue;
        }
        if (c != '\\' || i + 1 >= v.size()) {
            item += c;
            ++i;
            continue;
        }
        const char e = v[i + 1];
        i += 2;
        switch (e) {
        case 'a': item += '\a'; break;
        case 'b': item += '\b'; break;
        case 'f': item += '\f'; break;
        case 'n': item += '\n'; break;
        case 'r': item += '\r'; break;
        case 't': item += '\t'; break;
        case 'v': item += '\v'; break;
        case 'x': {
            unsigned code = 0;
            while (i < v.size() && HexDigit(v[i]) >= 0)
                code = code * 16 + static_cast<unsigned>(HexDigit(v[i++]));
            AppendUtf8(item, code);
            break;
        }
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7': {
            unsigned code = static_cast<unsigned>(e - '0');
            while (i < v.size() && v[i] >= '0' && v[i] <= '7')
                code = code * 8 + static_cast<unsigned>(v[i++] - '0');
            AppendUtf8(item, code);
            break;
        }
        default: item += e; break; // \" \\ \' \? and any other: the character
        }
    }
    finishItem();
    // "@@" keeps a text that begins with "@"; other "@..." forms hold types
    // this program never writes, and read as their text.
    for (std::string& text : value.Items)
        if (text.starts_with("@@"))
            text.erase(0, 1);
    return value;
}

std::string EscapedText(std::string_view text)
{
    std::string out;
    bool needsQuotes = false;
    bool escapeNextIfHex = false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfHex && HexDigit(ch) >= 0) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%x", c);
            out += buffer;
            continue;
        }
        escapeNextIfHex = false;
        switch (ch) {
        case '\0':
            out += "\\0";
            escapeNextIfHex = true;
            break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\':
            out += '\\';
            out += ch;
            break;
        default:
            if (c <= 0x1F || c == 0x7F) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\x%x", c);
                out += buffer;
                escapeNextIfHex = true;
            } else {
                out += ch; // UTF-8 bytes as they are
            }
        }
    }
    if (needsQuotes || (!out.empty() && (out.front() == ' ' || out.back() == ' ')))
        return '"' + out + '"';
    return out;
}

} // namespace

std::string IniValue::Text() const
{
    std::string text;
    for (size_t i = 0; i < Items.size(); ++i) {
        if (i > 0)
            text += ',';
        text += Items[i];
    }
    return text;
}

IniEntries ParseIni(std::string_view text)
{
    IniEntries entries;
    std::string section;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A value may go on past a line's end after a backslash.
        std::string joined;
        while (!line.empty() && line.back() == '\\' && !text.empty() && line.find('=') != std::string_view::npos) {
            joined.append(line.substr(0, line.size() - 1));
            const size_t next = text.find('\n');
            line = Trimmed(text.substr(0, next));
            text.remove_prefix(next == std::string_view::npos ? text.size() : next + 1);
        }
        if (!joined.empty()) {
            joined.append(line);
            line = joined;
        }
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            section = UnescapedKey(Trimmed(line.substr(1, close == std::string_view::npos ? line.npos : close - 1)));
            if (section.size() == 7 && (section == "General" || section == "general"))
                section.clear();
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string key = UnescapedKey(Trimmed(line.substr(0, equals)));
        if (key.empty())
            continue;
        entries[section.empty() ? key : section + '/' + key] = UnescapedValue(Trimmed(line.substr(equals + 1)));
    }
    return entries;
}

std::string FormatIni(const IniEntries& entries)
{
    // Sections in the order of their names, keys in order within each.
    std::map<std::string, std::vector<std::pair<std::string, const IniValue*>>> sections;
    for (const auto& [key, value] : entries) {
        const size_t slash = key.find('/');
        if (slash == std::string::npos)
            sections["General"].emplace_back(key, &value);
        else
            sections[key.substr(0, slash)].emplace_back(key.substr(slash + 1), &value);
    }
    std::string out;
    for (const auto& [section, keys] : sections) {
        if (!out.empty())
            out += '\n';
        out += '[' + EscapedKey(section) + "]\n";
        for (const auto& [key, value] : keys) {
            out += EscapedKey(key) + '=';
            for (size_t i = 0; i < value->Items.size(); ++i) {
                if (i > 0)
                    out += ", ";
                const std::string& item = value->Items[i];
                out += EscapedText(item.starts_with('@') ? '@' + item : item);
            }
            out += '\n';
        }
    }
    return out;
}

IniValue IniText(std::string text)
{
    return {{std::move(text)}, false};
}

IniValue IniNumber(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return IniText(std::string(buffer, result.ptr));
}

IniValue IniBool(bool value)
{
    return IniText(value ? "true" : "false");
}
