// sabunn: the publisher's tool for update payloads. Every command is a
// subcommand registered from its own source file (see commands.h).
#include <cstdio>

#include "tools/sabunn/commands.h"

namespace morivane::sabunn {

void ReportError(const std::string& message) {
    std::fprintf(stderr, "sabunn: %s\n", message.c_str());
}

}  // namespace morivane::sabunn

int main(int argc, char** argv) {
    using namespace morivane::sabunn;
    CLI::App app{"sabunn: builds, inspects and applies the update payloads"};
    app.require_subcommand(1);

    int exitCode = kExitOk;
    AddPackCommand(app, &exitCode);
    AddUnpackCommand(app, &exitCode);
    AddMakeCommand(app, &exitCode);
    AddApplyCommand(app, &exitCode);
    AddInfoCommand(app, &exitCode);
    AddExtractCommand(app, &exitCode);
    AddUpdateCommand(app, &exitCode);

    CLI11_PARSE(app, argc, argv);
    return exitCode;
}
