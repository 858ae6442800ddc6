#include "cli.h"

#include "errors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tvf2 {
namespace {

const OptionInfo* FindLong(const std::vector<OptionInfo>& table, const std::string& name) {
    for (const OptionInfo& s : table)
        if (name == s.name) return &s;
    return nullptr;
}

const OptionInfo* FindShort(const std::vector<OptionInfo>& table, char c) {
    for (const OptionInfo& s : table)
        if (s.shortName != 0 && s.shortName == c) return &s;
    return nullptr;
}

// Splits "a<sep>b" at the first separator found from `seps`; false if none or empty part.
bool SplitPair(const std::string& text, const char* seps, std::string* a, std::string* b) {
    const size_t at = text.find_first_of(seps);
    if (at == std::string::npos || at == 0 || at + 1 >= text.size()) return false;
    *a = text.substr(0, at);
    *b = text.substr(at + 1);
    return true;
}

// Only signs and digits: the shape of an integer, checked before its range so that
// "8y8" is reported as a malformed value rather than as a bad number.
bool LooksNumeric(const std::string& s) {
    return !s.empty() && s.find_first_not_of("+-0123456789") == std::string::npos;
}

}  // namespace

std::string ParsedArgs::Value(const std::string& name) const {
    auto it = values_.find(name);
    return it == values_.end() ? std::string() : it->second;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionInfo>& table) {
    ParsedArgs out;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            out.AddPositional(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionInfo* option = nullptr;
        std::string shown, inlineValue;
        bool hasInline = false;
        if (a[1] == '-') {
            std::string name = a.substr(2);
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                hasInline = true;
                name.resize(eq);
            }
            option = FindLong(table, name);
            shown = "--" + name;
        } else {
            option = FindShort(table, a[1]);
            shown = a.substr(0, 2);
            if (a.size() > 2) {
                inlineValue = a.substr(2);
                hasInline = true;
            }
        }
        if (!option) throw UsageError("unknown option '" + shown + "' (see --help)");
        const std::string name = option->name;
        if (!option->valueName) {
            if (hasInline) throw UsageError("option " + shown + " takes no value");
            out.Set(name, "");
            continue;
        }
        if (hasInline) {
            out.Set(name, inlineValue);
        } else {
            if (i + 1 >= args.size())
                throw UsageError("option " + shown + " needs a value (" + option->valueName + ")");
            out.Set(name, args[++i]);
        }
    }
    return out;
}

std::string FormatOptions(const std::vector<OptionInfo>& table) {
    std::ostringstream s;
    for (const OptionInfo& o : table) {
        std::string left = "  ";
        left += o.shortName ? std::string("-") + o.shortName + ", " : std::string("    ");
        left += std::string("--") + o.name;
        if (o.valueName) left += std::string(" ") + o.valueName;
        s << left;
        if (left.size() < 26)
            s << std::string(26 - left.size(), ' ');
        else
            s << "\n" << std::string(26, ' ');
        s << o.help << "\n";
    }
    return s.str();
}

long long ParseInteger(const std::string& what, const std::string& text, long long min,
                       long long max) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    // strtoll skips leading blanks and accepts "+"; refuse the blanks, keep the sign.
    if (text.empty() || end == begin || *end != '\0' || text[0] == ' ' || text[0] == '\t')
        throw UsageError(what + ": '" + text + "' is not an integer");
    if (errno == ERANGE || v < min || v > max)
        throw UsageError(what + ": " + text + " is out of range (" + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    return v;
}

double ParseDecimal(const std::string& what, const std::string& text, double min, double max) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    // strtod also takes blanks, "inf", "nan" and hexadecimal; only plain decimals here.
    if (text.empty() || end == begin || *end != '\0' ||
        text.find_first_not_of("0123456789.+-eE") != std::string::npos)
        throw UsageError(what + ": '" + text + "' is not a number");
    if (errno == ERANGE || !(v >= min && v <= max)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", min, max);
        throw UsageError(what + ": " + text + " is out of range (" + range + ")");
    }
    return v;
}

Size2 ParseSize(const std::string& what, const std::string& text, int min, int max) {
    const std::string notASize = what + ": '" + text + "' is not a size (WxH or N)";
    if (text.find_first_of("xX*") == std::string::npos) {
        if (!LooksNumeric(text)) throw UsageError(notASize);
        const int n = static_cast<int>(ParseInteger(what, text, min, max));
        return Size2{n, n};
    }
    std::string w, h;
    if (!SplitPair(text, "xX*", &w, &h) || !LooksNumeric(w) || !LooksNumeric(h))
        throw UsageError(notASize);
    return Size2{static_cast<int>(ParseInteger(what, w, min, max)),
                 static_cast<int>(ParseInteger(what, h, min, max))};
}

Point2 ParsePoint(const std::string& what, const std::string& text, int min, int max) {
    std::string x, y;
    if (!SplitPair(text, ",", &x, &y) || !LooksNumeric(x) || !LooksNumeric(y))
        throw UsageError(what + ": '" + text + "' is not a point (X,Y)");
    return Point2{static_cast<int>(ParseInteger(what, x, min, max)),
                  static_cast<int>(ParseInteger(what, y, min, max))};
}

}  // namespace tvf2
