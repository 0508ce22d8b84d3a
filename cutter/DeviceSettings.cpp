#include "cutter/DeviceSettings.h"

#include "common/Text.h"

#include <utility>

namespace {
// Words rather than enum values, so settings files read well and outlive a
// reordered enum.
constexpr std::pair<SendAs, const char*> LanguageWords[] = {
    {SendAs::Driver, "driver"}, {SendAs::HPGL, "hpgl"},   {SendAs::DMPL, "dmpl"},
    {SendAs::GPGL, "gpgl"},     {SendAs::CAMMGL, "camm"},
};
} // namespace

std::string_view SendAsWord(SendAs language)
{
    for (const auto& [each, word] : LanguageWords)
        if (each == language)
            return word;
    return {};
}

std::optional<SendAs> SendAsFromWord(std::string_view word)
{
    for (const auto& [language, name] : LanguageWords)
        if (SameWord(word, name))
            return language;
    return std::nullopt;
}
