// Subcommands and what they share.
//
// Each subcommand lives in its own file under ops/ and adds itself to the table with
// a static Registration; main.cpp finds it there by name. A new filter family is one
// new file: a Command describing it, and a FrameFilter (filter_job.h) doing the work.
#ifndef TVF2_TOOL_COMMAND_H
#define TVF2_TOOL_COMMAND_H

#include "backend.h"
#include "cli.h"

#include <memory>
#include <string>
#include <vector>

namespace tvf2 {

// Options every subcommand takes (they may also come before the subcommand's name).
struct GlobalOptions {
    bool verbose = false;
    BackendChoice backend = BackendChoice::Auto;
    std::string modulePath;  // --module, else TVF2_MODULE, else empty
};

// What a running subcommand can reach: the global options and, opened on first use,
// the backend (so that commands without device work need no module).
class Context {
public:
    Context(GlobalOptions options, std::string exeDir)
        : options_(std::move(options)), exeDir_(std::move(exeDir)) {}
    bool Verbose() const { return options_.verbose; }
    const GlobalOptions& Options() const { return options_; }

    // A message shown with -v only, as "tvf2: message".
    void Note(const std::string& message) const;

    // Opens the backend on first use. Throws Failure (or UsageError) with one line.
    Backend& GetBackend();

private:
    GlobalOptions options_;
    std::string exeDir_;
    std::unique_ptr<Backend> backend_;
};

struct Command {
    const char* name;
    const char* summary;              // one line, for "tvf2 --help" and "tvf2 list"
    const char* synopsis;             // "mosaic [options] IN OUT"
    const char* description;          // what --help shows under the synopsis; lines end in \n
    std::vector<OptionInfo> options;  // the command's own options
    bool isFilter;                    // a module operation (listed under "Operations")
    const char* layouts;              // filters: the layouts and inputs it takes, for "tvf2 list"
    int (*run)(const ParsedArgs& args, Context& context);  // returns the exit status
};

// All registered commands, sorted by name.
std::vector<const Command*> Commands();
const Command* FindCommand(const std::string& name);

struct Registration {
    explicit Registration(const Command& command);
};

// The options every command accepts, appended to its own in parsing and in --help.
const std::vector<OptionInfo>& CommonOptions();

// The full --help text of a command.
std::string CommandHelp(const Command& command);

// Throws UsageError unless exactly `count` positional arguments were given.
void ExpectPositional(const ParsedArgs& args, const Command& command, size_t count);

}  // namespace tvf2

#endif
