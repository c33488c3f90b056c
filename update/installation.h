// Where the update's files lie in one installation: the five targets in row
// order, their names relative to the installation directory, and the files
// the run makes beside them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morivane {

struct InstallationPaths {
    std::string installDirectory;  // with its trailing backslash
    std::string temporary;         // installDirectory + "Clone.tmp"
    std::string record;            // installDirectory + "Clone.rec"
    // Row 0 is the executable `bootPath` itself; the data files lie under
    // the installation directory, whatever the executable is called.
    std::vector<std::string> targets;
    // The same files relative to the installation directory: row 0 is the
    // executable's file name.
    std::vector<std::string> rowNames;

    std::string Aside(int asideNumber) const;
};

InstallationPaths PathsOf(const std::string& bootPath, const std::string& installDirectory);

// "Clone<n>.bak", the name the original of a row is moved aside to, n from
// 1 to kMaxAsideNumber.
std::string AsideName(int asideNumber);
// The n of a name exactly as AsideName writes it; 0 for any other name.
int AsideNumberOf(std::string_view name);

// The directory part of `path`, up to and including its last backslash
// (code page 932 aware); empty when it has none.
std::string DirectoryOf(const std::string& path);

// Windows compares file names without regard to the case of ASCII letters.
bool SamePath(const std::string& a, const std::string& b);

}  // namespace morivane
