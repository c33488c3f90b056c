// What `sabunn update` looks at before the updater's start-up touches
// anything: whether the installation's five files, and the directories that
// hold them, are what they seem, and what stands under the names the run
// makes for itself ("Clone.tmp", "Clone.rec", "Clone<n>.bak").
//
// Links: no symbolic link is accepted at or below the installation
// directory, neither as one of the five files nor as a directory on the way
// to one (`dat`), wherever it leads: the run replaces files by renaming, so a
// link would be replaced rather than what it leads to, and where it leads can
// change between a look and a use. The installation directory itself may be
// reached through links (--install-dir is resolved once, at the start). A
// file with other names (a hard link) is accepted: it is renamed aside and
// never written, re-moded or stamped, so the other names keep the old file.
//
// A FIFO, socket or device in place of one of the five files or of a
// directory refuses the installation; a directory in place of a file is left
// to the run, which cannot open it (message 10).
#pragma once

#include <string>
#include <vector>

#include "platform/posix/windows_path_file_system.h"
#include "update/installation.h"

namespace morivane::sabunn {

struct InstallationSurvey {
    // Why the installation cannot be updated as it stands, one sentence each,
    // naming the path. Empty when nothing is in the way.
    std::vector<std::string> refusals;
    // What the run will find under its own names, and files that have other
    // names, one sentence each.
    std::vector<std::string> notes;
};

// Looks, never opens: `files` maps the run's paths `paths` onto the real
// installation directory.
InstallationSurvey SurveyInstallation(WindowsPathFileSystem& files, const InstallationPaths& paths);

// What the entry at the real path `path` is, in words for a message: "a FIFO",
// "a symbolic link to '/x', which leads nowhere", ... Empty when nothing is
// there.
std::string DescribeEntry(const std::string& path);

}  // namespace morivane::sabunn
