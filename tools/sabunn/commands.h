// The sabunn commands. Each lives in its own cmd_<name>.cpp and adds itself to
// the command line through one Add...Command function, called from sabunn.cpp.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "tools/sabunn/update_file_system.h"

namespace morivane::sabunn {

// Exit statuses shared by all commands (command-line mistakes get CLI11's).
inline constexpr int kExitOk = 0;
// Unreadable input (missing, or not a regular file: a FIFO, a device, a
// socket, a directory), damaged data, sums that do not match, an output that
// is one of the command's inputs or is there as something other than a
// regular file or a link, a failed write.
inline constexpr int kExitFailure = 1;

// Prints "sabunn: <message>" on stderr.
void ReportError(const std::string& message);

// Each adds one subcommand to `app`. When that subcommand runs, it stores its
// exit status in *exitCode, which must outlive the parse. Every command reads
// and writes through file_io.h: its inputs must be regular files, and no
// output may take the place of one of them.

// pack SCRIPT -o PAYLOAD [--plain]: the compressed payload HF(LZSS(script)),
// checked to unpack back to the script before it is written; with --plain a
// copy of the script (refused when the script would read as a container).
void AddPackCommand(CLI::App& app, int* exitCode);

// unpack PAYLOAD -o SCRIPT: a container's script, or a plain payload copied
// unchanged. A damaged container is reported with the stage that failed and,
// for the Huffman stage, the block.
void AddUnpackCommand(CLI::App& app, int* exitCode);

// make OLD NEW -o PAYLOAD [--unit U] [--plain|--packed] [--breakdown]
// [--manifest SUMS]: the script that rebuilds NEW from OLD (tools/builder),
// with the unit size (1 to 32, dividing NEW's length) that gives the smallest
// payload unless --unit forces one; stored as an HF container unless that
// comes out larger than the script itself (--plain and --packed force a
// form); checked by the updater's own patcher before it is written.
// --breakdown prints the unit sizes weighed and where the payload's bytes go.
// The sums of OLD and NEW are written beside the payload (<name>.sum) or to
// SUMS, which may not be PAYLOAD; both files appear, or neither.
void AddMakeCommand(CLI::App& app, int* exitCode);

// apply OLD PAYLOAD -o NEW [--id N] [--manifest SUMS | --no-sums]: NEW rebuilt
// from OLD by the updater's own patcher; PAYLOAD is a payload file, or a
// directory of <id>.sabunn with --id. OLD is checked against the sums beside
// the payload (<id>.sum, or SUMS) before anything is written, and NEW before
// it is put in place; without sums the command refuses unless --no-sums, and
// then warns that nothing was verified. NEW appears only when complete. A
// failure of the patcher prints the catalogue message and, under it, the
// cause the patcher kept (which block or run, by how much).
void AddApplyCommand(CLI::App& app, int* exitCode);

// info PAYLOAD [--json] [--manifest SUMS]: stored form, HF blocks, script
// header, new file size, old file size needed, longest runs, the sums beside
// the payload (or at SUMS); sums that are there but cannot be read fail it,
// and so does a damaged payload or script, after what could be read is shown.
void AddInfoCommand(CLI::App& app, int* exitCode);

// extract MODULE -d DIR: each "SABUNN" payload of a Win32 module (integer id,
// first language) written to DIR/<id>.sabunn, and its "SABUNNSUM" sums, where
// the module carries them, to DIR/<id>.sum (damaged sums are warned about and
// not written); one line "<id> HF|plain <size>" per payload on stdout. A
// damaged module, or one without payloads, fails. Names from the module are
// printed escaped.
void AddExtractCommand(CLI::App& app, int* exitCode);

// update --install-dir DIR [--exe NAME] [--payloads MODULE|DIR] [--yes]: the
// updater's own start-up sequence and update run applied to DIR, names in it
// found case-insensitively: an interrupted run put in order, the FileVersion
// checked, the confirmation asked on the terminal (refused without one unless
// --yes), the installed files checked against the payloads' sums, then the
// five files rebuilt all or nothing; the machine checks are left out. The
// run works on the file system `makeFiles` makes for the directory. A
// failure of the patcher prints its message with the cause under it. Exit
// status 0 after success, 1 when no payloads can be opened or the update is
// not confirmed, otherwise the message number.
void AddUpdateCommand(CLI::App& app, int* exitCode, UpdateFileSystemFactory makeFiles);

}  // namespace morivane::sabunn
