// tvf2 list: the operations and layouts tvf2 offers, and which module would run them.
#include "command.h"
#include "errors.h"

#include <cstdio>
#include <string>

namespace tvf2 {
namespace {

int RunList(const ParsedArgs& args, Context& context);

const Command kList = {
    "list",
    "List the operations, the pixel layouts and the backend and module in use",
    "list [options]",
    "Operations run on the device through the module; the last two lines name the\n"
    "backend and module file that tvf2 uses with the same options (it fails, with the\n"
    "reason, when no module can be loaded).\n",
    {},
    false,
    "",
    RunList,
};

const Registration kRegistration(kList);

void PrintRow(const std::string& left, const std::string& right) {
    std::printf("  %-12s %s\n", left.c_str(), right.c_str());
}

int RunList(const ParsedArgs& args, Context& context) {
    ExpectPositional(args, kList, 0);
    // The module first: when it cannot be loaded, the one error line says why and
    // nothing else is printed.
    Backend& backend = context.GetBackend();
    std::printf("Operations:\n");
    for (const Command* c : Commands()) {
        if (!c->isFilter) continue;
        PrintRow(c->name, c->summary);
        PrintRow("", std::string("layouts: ") + c->layouts);
    }
    std::printf("Other commands:\n");
    for (const Command* c : Commands())
        if (!c->isFilter) PrintRow(c->name, c->summary);
    std::printf("Layouts:\n");
    PrintRow("C32", "4 bytes a pixel: B, G, R, X (X is 255 on upload, ignored on output)");
    PrintRow("C32A", "4 bytes a pixel: B, G, R, A (straight alpha)");
    PrintRow("YUY2", "2 bytes a pixel, in pairs: Y0, U, Y1, V (chroma centred on 128)");
    PrintRow("P8", "1 byte a pixel: one plane (grey, or Y, U or V of a YUV4MPEG2 frame)");
    PrintRow("C64", "8 bytes a pixel: B, G, R, X as signed 16-bit lanes (16-bit PNG)");
    PrintRow("C64A", "8 bytes a pixel: B, G, R, A as signed 16-bit lanes (16-bit PNG)");
    PrintRow("P16", "2 bytes a pixel: one signed 16-bit grey plane (16-bit PNG)");
    PrintRow("YUV32", "4 bytes a pixel: Y, U, V, X (4:4:4, chroma centred on 128)");
    PrintRow("SemiPlanar8", "two planes: Y, and U V per pixel pair (4:2:0 for measure)");
    std::printf("Backend: %s\nModule:  %s\n", backend.Name(), backend.ModulePath().c_str());
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
