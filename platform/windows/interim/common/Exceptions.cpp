#include "common/Exceptions.h"

EOSError EOSError::FromCode(int code, std::string_view systemText)
{
    if (code == 0)
        return EOSError("A call to an OS function failed", 0);
    return EOSError("System Error.  Code: " + std::to_string(code) + ".\r\n" + TrimSystemText(systemText), code);
}

std::string TrimSystemText(std::string_view text)
{
    size_t end = text.size();
    while (end > 0
           && (text[end - 1] == '.' || text[end - 1] == ' ' || (text[end - 1] >= '\t' && text[end - 1] <= '\r')))
        --end;
    return std::string(text.substr(0, end));
}

std::string Quoted(std::string_view text)
{
    constexpr int Most = 64;
    int points = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (points++ == Most)
            return std::string(text.substr(0, i)) + "\xE2\x80\xA6";
    }
    return std::string(text);
}
