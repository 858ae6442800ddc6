// tvf2: a command-line host for the TarvoVideoFilter2 module.
//
// main() splits the command line into global options, a subcommand and the
// subcommand's arguments, and is the one place where failures become the single
// "tvf2: ..." line on stderr and the exit status (errors.h). No exception leaves it.
#include "command.h"
#include "errors.h"
#include "module_loader.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#ifndef TVF2_TOOL_VERSION
#define TVF2_TOOL_VERSION "0.1.0"
#endif

namespace tvf2 {
namespace {

void PrintMainHelp() {
    std::printf(
        "usage: tvf2 [common options] COMMAND [options] ARGS...\n"
        "       tvf2 COMMAND --help | tvf2 --help | tvf2 --version\n\n"
        "A command-line host for the TarvoVideoFilter2 module: runs its operations on PNG\n"
        "pictures and YUV4MPEG2 streams through the CUDA module or the CPU module.\n\n"
        "Commands:\n");
    for (const Command* c : Commands()) std::printf("  %-10s %s\n", c->name, c->summary);
    std::printf("\nCommon options:\n%s", FormatOptions(CommonOptions()).c_str());
    std::printf(
        "\nExit status: 0 success, 1 failure while running, 2 bad command line.\n"
        "Example: tvf2 sample in.png && tvf2 mosaic --cell 12 in.png out.png\n");
}

// Global options before the command name; the ones taking a value take the next word.
bool TakesValue(const std::string& option) {
    return option == "--backend" || option == "--module";
}

GlobalOptions ReadGlobalOptions(const ParsedArgs& args) {
    GlobalOptions g;
    g.verbose = args.Has("verbose");
    if (args.Has("backend")) g.backend = ParseBackendChoice(args.Value("backend"));
    if (args.Has("module")) {
        g.modulePath = args.Value("module");
        if (g.modulePath.empty()) throw UsageError("--module needs a file name");
    } else if (const char* env = std::getenv("TVF2_MODULE")) {
        g.modulePath = env;
    }
    return g;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Words before the command name are global options; they are handed on to the
    // command's own parser so that both places accept the same spellings.
    std::vector<std::string> leading;
    size_t i = 0;
    for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            PrintMainHelp();
            return kExitOk;
        }
        if (a == "--version") {
            std::printf("tvf2 %s (TarvoVideoFilter2 command-line host)\n", TVF2_TOOL_VERSION);
            return kExitOk;
        }
        if (a == "--") {
            ++i;
            break;
        }
        leading.push_back(a);
        if (TakesValue(a) && i + 1 < args.size()) leading.push_back(args[++i]);
    }
    if (i >= args.size()) {
        // Check the global options anyway, so that a typo is named as such.
        ParseArgs(leading, CommonOptions());
        throw UsageError("no command given (try 'tvf2 --help')");
    }
    const Command* command = FindCommand(args[i]);
    if (!command) throw UsageError("unknown command '" + args[i] + "' (try 'tvf2 --help')");

    std::vector<OptionInfo> table = command->options;
    table.insert(table.end(), CommonOptions().begin(), CommonOptions().end());
    std::vector<std::string> rest = leading;
    rest.insert(rest.end(), args.begin() + static_cast<long>(i) + 1, args.end());
    const ParsedArgs parsed = ParseArgs(rest, table);
    if (parsed.Has("help")) {
        std::printf("%s", CommandHelp(*command).c_str());
        return kExitOk;
    }
    Context context(ReadGlobalOptions(parsed), ExecutableDir());
    return command->run(parsed, context);
}

// One line, whatever the message holds.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

}  // namespace
}  // namespace tvf2

int main(int argc, char** argv) {
    // A closed pipe downstream is reported as a write error, not a silent death.
    signal(SIGPIPE, SIG_IGN);
    int status;
    try {
        status = tvf2::Run(argc, argv);
        if (std::fflush(stdout) != 0) throw tvf2::Failure("cannot write stdout");
    } catch (const tvf2::Error& e) {
        std::fprintf(stderr, "tvf2: %s\n", tvf2::OneLine(e.what()).c_str());
        status = e.ExitStatus();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tvf2: out of memory\n");
        status = tvf2::kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tvf2: internal error: %s\n", tvf2::OneLine(e.what()).c_str());
        status = tvf2::kExitFailure;
    } catch (...) {
        std::fprintf(stderr, "tvf2: internal error\n");
        status = tvf2::kExitFailure;
    }
    return status;
}
