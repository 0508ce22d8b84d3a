#include "cutter/DeviceSettings.h"

#include <utility>

namespace {
// Words rather than enum values, so settings files read well and outlive a
// reordered enum.
constexpr std::pair<SendAs, const char*> LanguageWords[] = {
    {SendAs::Driver, "driver"}, {SendAs::HPGL, "hpgl"},   {SendAs::DMPL, "dmpl"},
    {SendAs::GPGL, "gpgl"},     {SendAs::CAMMGL, "camm"},
};
} // namespace

QLatin1String SendAsWord(SendAs language)
{
    for (const auto& [each, word] : LanguageWords)
        if (each == language)
            return QLatin1String(word);
    return QLatin1String();
}

std::optional<SendAs> SendAsFromWord(const QString& word)
{
    for (const auto& [language, name] : LanguageWords)
        if (word.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return language;
    return std::nullopt;
}
