// Command-line parsing: options described by a table, parsed into name -> value, and
// the value syntaxes tvf2 shares between commands (integers, WxH sizes, X,Y points).
//
// Every parse error is a UsageError (exit status 2) whose message names the option.
#ifndef TVF2_TOOL_CLI_H
#define TVF2_TOOL_CLI_H

#include <map>
#include <string>
#include <vector>

namespace tvf2 {

struct OptionInfo {
    const char* name;       // long name without the dashes ("cell")
    char shortName;         // single-letter alias, or 0
    const char* valueName;  // null for a flag, else what --help shows ("WxH")
    const char* help;       // one line
};

class ParsedArgs {
public:
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    // The value of the option's last occurrence; "" for a flag or an absent option.
    std::string Value(const std::string& name) const;
    // The values of every occurrence, in order (for options that may repeat).
    std::vector<std::string> Values(const std::string& name) const {
        auto it = all_.find(name);
        return it == all_.end() ? std::vector<std::string>() : it->second;
    }
    const std::vector<std::string>& Positional() const { return positional_; }

    void Set(const std::string& name, const std::string& value) {
        values_[name] = value;
        all_[name].push_back(value);
    }
    void AddPositional(const std::string& arg) { positional_.push_back(arg); }

private:
    std::map<std::string, std::string> values_;
    std::map<std::string, std::vector<std::string>> all_;
    std::vector<std::string> positional_;
};

// Options may come before, between or after positional arguments. Accepted forms:
// --name value, --name=value, -x value, -xvalue, and -x for flags. "--" ends the
// options; a lone "-" is a positional argument (stdin or stdout). A value is taken
// as it is, so "--offset -8,-8" works.
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionInfo>& table);

// The option table as the indented lines of a --help text.
std::string FormatOptions(const std::vector<OptionInfo>& table);

// A decimal integer in [min, max]; `what` names the value in messages ("--frames").
long long ParseInteger(const std::string& what, const std::string& text, long long min,
                       long long max);

// A plain decimal number ("1", "0.5", "-.25", "1e-1") in [min, max]: no blanks, "inf",
// "nan" or hexadecimal.
double ParseDecimal(const std::string& what, const std::string& text, double min, double max);

struct Size2 {
    int width, height;
};
// "WxH" (also "W*H" / "WXH"), or a single "N" meaning NxN. Each part in [min, max].
Size2 ParseSize(const std::string& what, const std::string& text, int min, int max);

struct Point2 {
    int x, y;
};
// "X,Y" with optional signs; each part in [min, max].
Point2 ParsePoint(const std::string& what, const std::string& text, int min, int max);

}  // namespace tvf2

#endif
