// Message numbers: how every check, the patcher and the update run report an
// outcome (0 is success). Only a front end turns a number into its text
// (ui/catalogue.h); everything below it speaks in these numbers alone.
#pragma once

namespace morivane {

enum MessageNumber : int {
    IDS_UNSUPPORTED_LANGUAGE = 1,
    IDS_NT_UNSUPPORTED = 2,
    IDS_OLD_WINDOWS = 3,
    IDS_NOT_INSTALLED = 4,
    IDS_NEWER_VERSION_INSTALLED = 5,
    IDS_ALREADY_CONTAINS_UPDATE = 6,
    IDS_INSTALL_BROKEN = 7,
    IDS_ALREADY_UPDATED = 8,
    IDS_VERSION_NOT_SUPPORTED = 9,
    IDS_EXE_IN_USE = 10,
    IDS_TEMP_CREATE_FAILED = 11,
    IDS_UPDATE_FAILED = 12,
    IDS_OUT_OF_MEMORY = 13,
    IDS_PRODUCT_RUNNING = 14,
    IDS_UPDATER_RUNNING = 15,
    IDS_CLOSE_PROGRAMS = 50,
    IDS_CONFIRM_UPDATE = 51,
    IDS_UPDATING = 52,
    IDS_UPDATE_DONE = 53,
    IDS_PRODUCT_WINDOW_TITLE = 54,
    IDS_UPDATER_TITLE = 55,
};

}  // namespace morivane
