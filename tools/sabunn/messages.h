// The catalogue's messages on a terminal, shared by the commands that run
// the updater's own code (apply, update): one line per message, and under a
// failure of the patcher the cause it kept.
#pragma once

#include <memory>
#include <string>

#include "seams/file_system.h"
#include "seams/payload_store.h"
#include "update/update_run.h"

namespace morivane::sabunn {

// "message N: <text> (<meaning>)": the catalogue's text, its line feeds shown
// as spaces so that the message is one line, and what it means in English.
// "message N" alone for a number the catalogue does not hold.
std::string MessageLine(int number);

// Message `number` as the Windows updater would show it: a failure (1 to 15)
// on stderr, an informational text (50 and up) on stdout. `cause`, when not
// empty, goes on the line under it.
void ShowMessage(int number, const std::string& cause = {});

// The update run's patch function with the patcher's causes kept: a fresh
// DiffPatcher for every file, as the Windows updater makes, and the cause of
// the last patch that failed, for ShowMessage.
class ExplainedPatches {
  public:
    // `files` and `payloads` must outlive the function.
    PatchFunction Over(FileSystem& files, PayloadStore& payloads);
    // The cause of the last patch when it failed; empty after a success.
    const std::string& LastCause() const { return *lastCause_; }

  private:
    std::shared_ptr<std::string> lastCause_ = std::make_shared<std::string>();
};

}  // namespace morivane::sabunn
