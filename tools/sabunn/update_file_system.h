// The file system `sabunn update` works on, confined to the installation
// directory `root` (no link followed below it). The command is handed the
// function that makes it: the program passes MakeUpdateFileSystem; a build of
// the command for the interruption tests passes one that wraps it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "seams/file_system.h"

namespace morivane::sabunn {

using UpdateFileSystemFactory = std::function<std::unique_ptr<FileSystem>(const std::string& root)>;

// The machine's own file system below `root`.
std::unique_ptr<FileSystem> MakeUpdateFileSystem(const std::string& root);

}  // namespace morivane::sabunn
