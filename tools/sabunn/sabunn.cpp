// The sabunn command line: every command is a subcommand registered from its
// own source file (see commands.h).
#include "tools/sabunn/sabunn.h"

#include <cstdio>
#include <utility>

#include "tools/sabunn/commands.h"

namespace morivane::sabunn {

void ReportError(const std::string& message) {
    std::fprintf(stderr, "sabunn: %s\n", message.c_str());
}

int RunSabunn(int argc, char** argv, UpdateFileSystemFactory updateFiles) {
    CLI::App app{"sabunn: builds, inspects and applies the update payloads"};
    app.require_subcommand(1);

    int exitCode = kExitOk;
    AddPackCommand(app, &exitCode);
    AddUnpackCommand(app, &exitCode);
    AddMakeCommand(app, &exitCode);
    AddApplyCommand(app, &exitCode);
    AddInfoCommand(app, &exitCode);
    AddExtractCommand(app, &exitCode);
    AddUpdateCommand(app, &exitCode, std::move(updateFiles));

    CLI11_PARSE(app, argc, argv);
    return exitCode;
}

}  // namespace morivane::sabunn
