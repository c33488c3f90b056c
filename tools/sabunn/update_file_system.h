// The file system `sabunn update` works on. Defined in update_file_system.cpp
// as the machine's own; a build of the command can link another definition,
// as the interruption tests' build does.
#pragma once

#include <memory>

#include "seams/file_system.h"

namespace morivane::sabunn {

std::unique_ptr<FileSystem> MakeUpdateFileSystem();

}  // namespace morivane::sabunn
