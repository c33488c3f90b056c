// The sabunn commands. Each lives in its own cmd_<name>.cpp and adds itself to
// the command line through one Add...Command function, called from main.cpp.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

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
// unchanged. A damaged container is reported with the stage that failed.
void AddUnpackCommand(CLI::App& app, int* exitCode);

// make OLD NEW -o PAYLOAD [--plain|--packed] [--unit U] [--manifest SUMS]
// [--breakdown]: the script that rebuilds NEW from OLD (tools/builder), packed
// unless that is larger or --plain, checked before it is written, and the
// sums of OLD and NEW beside it (or at SUMS, which may not be PAYLOAD).
void AddMakeCommand(CLI::App& app, int* exitCode);

// apply OLD PAYLOAD -o NEW [--id N] [--manifest SUMS | --no-sums]: NEW rebuilt
// from OLD by the updater's own patcher; PAYLOAD is a payload file, or a
// directory of <id>.sabunn with --id. OLD is checked against the sums beside
// the payload (<id>.sum, or SUMS) before anything is written, and NEW before
// it is put in place; without sums the command refuses unless --no-sums, and
// then warns that nothing was verified. NEW appears only when complete; a
// failure of the patcher prints the catalogue message.
void AddApplyCommand(CLI::App& app, int* exitCode);

// info PAYLOAD [--json] [--manifest SUMS]: stored form, HF blocks, script
// header, new file size, old file size needed, longest runs, the sums beside
// the payload (or at SUMS); sums that are there but cannot be read fail it.
void AddInfoCommand(CLI::App& app, int* exitCode);

// extract MODULE -d DIR: each "SABUNN" payload of a Win32 module (integer id,
// first language) written to DIR/<id>.sabunn with its sums as DIR/<id>.sum,
// one line "<id> HF|plain <size>" per payload on stdout. A damaged module, or
// one without payloads, fails. Names from the module are printed escaped.
void AddExtractCommand(CLI::App& app, int* exitCode);

// update --install-dir DIR [--exe NAME] [--payloads MODULE|DIR] [--yes]: the
// updater's start-up version check and update run applied to DIR, names in
// it found case-insensitively. Asks on the terminal unless --yes (refused
// without a terminal). Exit status 0 after success, 1 when no payloads can be
// opened or the update is not confirmed, otherwise the message number.
void AddUpdateCommand(CLI::App& app, int* exitCode);

}  // namespace morivane::sabunn
