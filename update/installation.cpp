#include "update/installation.h"

#include "seams/code_page.h"
#include "update/host_environment.h"
#include "update/product.h"

namespace morivane {

std::string InstallationPaths::Aside(int asideNumber) const {
    return installDirectory + AsideName(asideNumber);
}

InstallationPaths PathsOf(const std::string& bootPath, const std::string& installDirectory) {
    InstallationPaths paths;
    paths.installDirectory = installDirectory;
    paths.temporary = installDirectory + kTemporaryFileName;
    paths.record = installDirectory + kRecordFileName;
    const std::size_t cut = FindLastBackslash(bootPath);
    const std::string executableName =
        cut == std::string::npos ? bootPath : bootPath.substr(cut + 1);
    for (const UpdateFile& file : kUpdateFiles) {
        if (file.relativePath == nullptr) {
            paths.targets.push_back(bootPath);
            paths.rowNames.push_back(executableName);
        } else {
            paths.targets.push_back(installDirectory + file.relativePath);
            paths.rowNames.push_back(file.relativePath);
        }
    }
    return paths;
}

std::string AsideName(int asideNumber) {
    return kAsideNamePrefix + std::to_string(asideNumber) + kAsideNameSuffix;
}

int AsideNumberOf(std::string_view name) {
    const std::string_view head = kAsideNamePrefix;
    const std::string_view tail = kAsideNameSuffix;
    if (name.size() <= head.size() + tail.size() || !name.starts_with(head) ||
        !name.ends_with(tail)) {
        return 0;
    }
    const std::string_view digits =
        name.substr(head.size(), name.size() - head.size() - tail.size());
    if (digits.size() > 3 || digits.front() == '0') return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n <= kMaxAsideNumber ? n : 0;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t cut = FindLastBackslash(path);
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool SamePath(const std::string& a, const std::string& b) {
    return SameIgnoringAsciiCase(a, b);
}

}  // namespace morivane
