// Which failures of a flush to the medium leave data at risk. When a flush
// fails only because the file, or the system beneath it, offers no flush at
// all, the data is as durable as that system can make it and the caller goes
// on: fsync on a pipe, a device or a file system without it (EINVAL,
// ENOTSUP); FlushFileBuffers on some Windows 9x network redirectors
// (ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED). Every other failure means
// the data may be lost.
#pragma once

#include <errno.h>

namespace morivane {

// The two Win32 error codes by number, so that the choice can be tested on
// any system; the Win32 build checks them against <windows.h>.
inline constexpr unsigned long kWin32ErrorInvalidFunction = 1;
inline constexpr unsigned long kWin32ErrorNotSupported = 50;

// fsync failed with errno `error`: true when that says no flush is offered.
inline bool FsyncNotOffered(int error) {
    return error == EINVAL || error == ENOTSUP;
}

// FlushFileBuffers failed with GetLastError() `error`: true when that says no
// flush is offered.
inline bool FlushFileBuffersNotOffered(unsigned long error) {
    return error == kWin32ErrorInvalidFunction || error == kWin32ErrorNotSupported;
}

}  // namespace morivane
