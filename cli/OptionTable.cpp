#include "cli/OptionTable.h"

#include "common/Text.h"

#include <algorithm>

namespace {

const OptionSpec* ByName(const std::vector<OptionSpec>& table, std::string_view name)
{
    for (const OptionSpec& o : table)
        if (o.Name == name)
            return &o;
    return nullptr;
}

const OptionSpec* ByShort(const std::vector<OptionSpec>& table, char name)
{
    for (const OptionSpec& o : table)
        if (o.Short != 0 && o.Short == name)
            return &o;
    return nullptr;
}

// text in lines of at most width characters (words longer stay whole),
// each after indent spaces but the first.
std::string Wrapped(std::string_view text, std::size_t indent, std::size_t width)
{
    std::string out;
    for (const std::string& paragraph : Split(text, '\n')) {
        std::size_t column = 0;
        if (!out.empty())
            out += '\n' + std::string(indent, ' ');
        for (const std::string& word : Words(paragraph, " ")) {
            const std::size_t length = Utf16Length(word);
            if (column > 0 && column + 1 + length > width) {
                out += '\n' + std::string(indent, ' ');
                column = 0;
            } else if (column > 0) {
                out += ' ';
                ++column;
            }
            out += word;
            column += length;
        }
    }
    return out;
}

} // namespace

bool ParsedOptions::IsSet(std::string_view name) const
{
    return std::any_of(FGiven.begin(), FGiven.end(), [name](const auto& given) { return given.first == name; });
}

std::string ParsedOptions::Value(std::string_view name) const
{
    for (auto it = FGiven.rbegin(); it != FGiven.rend(); ++it)
        if (it->first == name)
            return it->second;
    return {};
}

ParsedOptions ParseOptions(const std::vector<OptionSpec>& table, const std::vector<std::string>& args)
{
    ParsedOptions parsed;
    OptionError error;
    const auto problem = [&error](std::string text) {
        if (error.Problem.empty())
            error.Problem = std::move(text);
    };
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.FArguments.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const OptionSpec* option = ByName(table, name);
            if (!option) {
                error.Unknown.push_back(name);
            } else if (option->ValueName.empty()) {
                if (equals != std::string::npos)
                    problem("Unexpected value after '--" + name + "'.");
                parsed.FGiven.emplace_back(name, std::string());
            } else if (equals != std::string::npos) {
                parsed.FGiven.emplace_back(name, arg.substr(equals + 1));
            } else if (i + 1 < args.size()) {
                parsed.FGiven.emplace_back(name, args[++i]);
            } else {
                problem("Missing value after '--" + name + "'.");
            }
        } else {
            // A cluster of short options; one that takes a value takes the
            // rest of the word, or else the next argument.
            for (std::size_t c = 1; c < arg.size(); ++c) {
                const OptionSpec* option = ByShort(table, arg[c]);
                if (!option) {
                    error.Unknown.push_back(std::string(1, arg[c]));
                } else if (option->ValueName.empty()) {
                    parsed.FGiven.emplace_back(option->Name, std::string());
                } else {
                    if (c + 1 < arg.size())
                        parsed.FGiven.emplace_back(option->Name, arg.substr(c + 1));
                    else if (i + 1 < args.size())
                        parsed.FGiven.emplace_back(option->Name, args[++i]);
                    else
                        problem(std::string("Missing value after '-") + arg[c] + "'.");
                    break;
                }
            }
        }
    }
    if (!error.Unknown.empty() || !error.Problem.empty())
        throw error;
    return parsed;
}

std::string OptionsHelp(std::string_view program, std::string_view description, const std::vector<OptionSpec>& table,
                        const std::vector<ArgumentSpec>& arguments)
{
    constexpr std::size_t Width = 79;
    std::vector<std::pair<std::string, std::string>> rows;
    for (const OptionSpec& o : table) {
        std::string names = o.Short ? std::string("-") + o.Short + ", --" + o.Name : "--" + o.Name;
        if (!o.ValueName.empty())
            names += " <" + o.ValueName + ">";
        rows.emplace_back(std::move(names), o.Help);
    }
    std::size_t nameWidth = 0;
    for (const auto& row : rows)
        nameWidth = std::max(nameWidth, row.first.size());
    for (const ArgumentSpec& a : arguments)
        nameWidth = std::max(nameWidth, a.Name.size());
    nameWidth = std::min<std::size_t>(nameWidth, 30);
    const std::size_t indent = 2 + nameWidth + 2;
    const auto row = [&](const std::string& name, const std::string& help) {
        std::string line = "  " + name;
        if (name.size() > nameWidth)
            line += '\n' + std::string(indent, ' ');
        else
            line += std::string(nameWidth - name.size() + 2, ' ');
        return line + Wrapped(help, indent, Width - indent) + '\n';
    };
    std::string usage = "Usage: " + std::string(program) + " [options]";
    for (const ArgumentSpec& a : arguments)
        usage += ' ' + a.Name;
    std::string text = usage + '\n' + std::string(description) + "\n\nOptions:\n";
    for (const auto& [name, help] : rows)
        text += row(name, help);
    if (!arguments.empty()) {
        text += "\nArguments:\n";
        for (const ArgumentSpec& a : arguments)
            text += row(a.Name, a.Help);
    }
    return text;
}
