// sabunn, the publisher's tool for update payloads, as a library: the whole
// command line with every command registered (commands.h). The program's
// main() is RunSabunn with the machine's own file system.
#pragma once

#include "tools/sabunn/update_file_system.h"

namespace morivane::sabunn {

// Parses argv and runs the command it names; returns the exit status.
// `sabunn update` works on the file systems `updateFiles` makes.
int RunSabunn(int argc, char** argv, UpdateFileSystemFactory updateFiles);

}  // namespace morivane::sabunn
