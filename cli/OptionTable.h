#pragma once

// A command line's options declared as a table, and the parser and help text
// that follow from it. GNU-style: "--name VALUE", "--name=VALUE", short
// options clustered ("-hv"), "--" ends the options. Values and arguments keep
// their bytes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct OptionSpec {
    std::string Name;      // the long name, without "--"
    char Short = 0;        // 0: none
    std::string ValueName; // empty: the option takes no value
    std::string Help;
};

struct ArgumentSpec {
    std::string Name; // as the help shows it, "[PLOTFILE]"
    std::string Help;
};

class ParsedOptions {
public:
    bool IsSet(std::string_view name) const;
    // The last value given; empty when the option is not set.
    std::string Value(std::string_view name) const;
    const std::vector<std::string>& Arguments() const { return FArguments; }

private:
    friend ParsedOptions ParseOptions(const std::vector<OptionSpec>&, const std::vector<std::string>&);
    std::vector<std::pair<std::string, std::string>> FGiven; // name, value, in the order given
    std::vector<std::string> FArguments;
};

// Arguments that cannot be parsed: the unknown option names, or else the one
// other problem ("Missing value after '--device'.").
struct OptionError {
    std::vector<std::string> Unknown;
    std::string Problem;
};

// args[0] is the program. Throws OptionError.
ParsedOptions ParseOptions(const std::vector<OptionSpec>& table, const std::vector<std::string>& args);

// "Usage: PROGRAM [options] ARGS", the description, and each option and
// argument with its help wrapped beside it.
std::string OptionsHelp(std::string_view program, std::string_view description, const std::vector<OptionSpec>& table,
                        const std::vector<ArgumentSpec>& arguments);
