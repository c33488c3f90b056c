#include "tools/sabunn/update_file_system.h"

#include "platform/posix/posix_file_system.h"

namespace morivane::sabunn {

std::unique_ptr<FileSystem> MakeUpdateFileSystem(const std::string& root) {
    return std::make_unique<PosixFileSystem>(root);
}

}  // namespace morivane::sabunn
