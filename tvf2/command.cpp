#include "command.h"

#include "errors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tvf2 {
namespace {

// A function-local table: registrations run during static initialisation of other
// files, in no defined order, so the table must exist before the first of them.
std::vector<const Command*>& Table() {
    static std::vector<const Command*> table;
    return table;
}

}  // namespace

void Context::Note(const std::string& message) const {
    if (options_.verbose) std::fprintf(stderr, "tvf2: %s\n", message.c_str());
}

Backend& Context::GetBackend() {
    if (!backend_) {
        BackendRequest request;
        request.choice = options_.backend;
        request.modulePath = options_.modulePath;
        request.moduleDir = exeDir_;
        backend_ = OpenBackend(request, [this](const std::string& m) { Note(m); });
    }
    return *backend_;
}

Registration::Registration(const Command& command) {
    Table().push_back(&command);
}

std::vector<const Command*> Commands() {
    std::vector<const Command*> all = Table();
    std::sort(all.begin(), all.end(),
              [](const Command* a, const Command* b) { return std::strcmp(a->name, b->name) < 0; });
    return all;
}

const Command* FindCommand(const std::string& name) {
    for (const Command* c : Table())
        if (name == c->name) return c;
    return nullptr;
}

const std::vector<OptionInfo>& CommonOptions() {
    static const std::vector<OptionInfo> options = {
        {"backend", 0, "auto|cuda|cpu", "which module runs the work (default auto)"},
        {"module", 0, "PATH", "use this module file (default: beside tvf2; env TVF2_MODULE)"},
        {"verbose", 'v', nullptr, "say which backend and module run, and warn about conversions"},
        {"help", 'h', nullptr, "show this help and exit"},
    };
    return options;
}

std::string CommandHelp(const Command& command) {
    std::string text = std::string("usage: tvf2 ") + command.synopsis + "\n\n" + command.summary +
                       ".\n\n" + command.description;
    if (!command.options.empty()) text += "\nOptions:\n" + FormatOptions(command.options);
    text += "\nCommon options:\n" + FormatOptions(CommonOptions());
    return text;
}

void ExpectPositional(const ParsedArgs& args, const Command& command, size_t count) {
    const size_t n = args.Positional().size();
    if (n == count) return;
    throw UsageError(std::string(n < count ? "missing arguments" : "too many arguments") +
                     " (usage: tvf2 " + command.synopsis + ")");
}

}  // namespace tvf2
