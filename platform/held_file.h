// Whether a file that could not be opened for reading without sharing is
// held by another program, from the Win32 error codes. Windows NT reports a
// conflict with another program's open as ERROR_SHARING_VIOLATION; Windows
// 95, 98 and Me need not report it the same way (their GetLastError codes
// are not guaranteed to match NT's, and MoveFileA of a file another handle
// maps fails there with ERROR_ACCESS_DENIED where NT says
// ERROR_SHARING_VIOLATION), and network redirectors pass on what their
// server says. Held, then, are:
//
//  - ERROR_SHARING_VIOLATION: the open conflicts with another open's sharing;
//  - ERROR_LOCK_VIOLATION: another open has locked the file or a part of
//    it, which only a holder can do;
//  - ERROR_ACCESS_DENIED, only when the same file opens for reading once
//    others may go on reading and writing it, or that open itself fails with
//    one of the two above. Access denied also means a file this user may not
//    read (its permissions, or those of its share) and a directory; the
//    read-only attribute never refuses reading, so attributes cannot tell
//    these apart, but the second open can: when it succeeds, the only thing
//    refused was having the file alone, which only another open prevents.
//    A holder that lets go between the two opens still counts: the answer
//    was true a moment ago, and the next start asks again.
#pragma once

#include <optional>

namespace morivane {

// The Win32 error codes by number, so that the choice can be tested on any
// system; the Win32 build checks them against <windows.h>.
inline constexpr unsigned long kWin32ErrorAccessDenied = 5;
inline constexpr unsigned long kWin32ErrorSharingViolation = 32;
inline constexpr unsigned long kWin32ErrorLockViolation = 33;

// An open failed with `error`: true when that alone says another open holds
// the file.
inline bool SaysHeldElsewhere(unsigned long error) {
    return error == kWin32ErrorSharingViolation || error == kWin32ErrorLockViolation;
}

// An open for reading without sharing failed with `unsharedError`; when that
// was ERROR_ACCESS_DENIED, the caller tried a shared open for reading and
// gives its outcome: nothing when it succeeded, else its error code.
inline bool HeldByAnotherProgram(unsigned long unsharedError,
                                 std::optional<unsigned long> sharedError) {
    if (SaysHeldElsewhere(unsharedError)) return true;
    if (unsharedError != kWin32ErrorAccessDenied) return false;
    return !sharedError.has_value() || SaysHeldElsewhere(*sharedError);
}

// Whether an open for reading without sharing that failed with `error`
// needs the shared open to be told apart.
inline bool NeedsSharedOpenToTell(unsigned long error) {
    return error == kWin32ErrorAccessDenied;
}

}  // namespace morivane
