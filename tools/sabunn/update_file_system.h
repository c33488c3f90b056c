// The file system `sabunn update` works on, confined to the installation
// directory `root` (no link followed below it). Defined in
// update_file_system.cpp as the machine's own; a build of the command can
// link another definition, as the interruption tests' build does.
#pragma once

#include <memory>
#include <string>

#include "seams/file_system.h"

namespace morivane::sabunn {

std::unique_ptr<FileSystem> MakeUpdateFileSystem(const std::string& root);

}  // namespace morivane::sabunn
