#include "tools/sabunn/installation_survey.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "platform/posix/regular_file.h"
#include "update/product.h"

namespace morivane::sabunn {

namespace {

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// The real path of every directory on the way to `target` below the
// installation, then that of the target itself.
std::vector<std::string> RealPathsDownTo(WindowsPathFileSystem& files, const std::string& target) {
    std::vector<std::string> steps;
    const std::string& prefix = files.VirtualPrefix();
    std::size_t pos = prefix.size();
    while (pos < target.size()) {
        std::size_t end = target.find('\\', pos);
        if (end == std::string::npos) end = target.size();
        if (end > pos) steps.push_back(files.RealPath(target.substr(0, end)));
        pos = end + 1;
    }
    return steps;
}

std::string Lowered(const std::string& name) {
    std::string lowered = name;
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

// "clone<n><suffix>", n from 1 to 999 without leading zeros, in any case.
bool IsNumberedName(const std::string& name, const std::string& suffix) {
    const std::string lowered = Lowered(name);
    const std::string head = Lowered(kAsideNamePrefix);
    if (lowered.size() <= head.size() + suffix.size() || !lowered.starts_with(head) ||
        !lowered.ends_with(suffix)) {
        return false;
    }
    const std::string digits =
        lowered.substr(head.size(), lowered.size() - head.size() - suffix.size());
    if (digits.size() > 3 || digits.front() == '0') return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

std::string DescribeEntry(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (!S_ISLNK(st.st_mode)) return DescribeFileType(st.st_mode);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    std::string text = "a symbolic link";
    if (n >= 0) text += " to " + Quoted(std::string(target, static_cast<std::size_t>(n)));
    struct stat led;
    if (::stat(path.c_str(), &led) != 0) text += ", which leads nowhere";
    return text;
}

InstallationSurvey SurveyInstallation(WindowsPathFileSystem& files,
                                      const InstallationPaths& paths) {
    InstallationSurvey survey;
    std::set<std::string> seen;
    for (const std::string& target : paths.targets) {
        const std::vector<std::string> steps = RealPathsDownTo(files, target);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const std::string& real = steps[i];
            struct stat st;
            if (::lstat(real.c_str(), &st) != 0) break;  // missing: the checks say so
            if (!seen.insert(real).second) continue;
            const bool last = i + 1 == steps.size();
            if (S_ISLNK(st.st_mode)) {
                survey.refusals.push_back(
                    Quoted(real) + " is " + DescribeEntry(real) +
                    "; the update follows no link inside the installation. Put the " +
                    (last ? "file" : "directory") + " itself in its place.");
            } else if (!last && !S_ISDIR(st.st_mode)) {
                survey.refusals.push_back(Quoted(real) + " is " + DescribeEntry(real) +
                                          ", not a directory.");
            } else if (last && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
                survey.refusals.push_back(Quoted(real) + " is " + DescribeEntry(real) +
                                          ", not a regular file.");
            } else if (last && S_ISREG(st.st_mode) && st.st_nlink > 1) {
                survey.notes.push_back(Quoted(real) + " has " + std::to_string(st.st_nlink - 1) +
                                       " other name(s) (hard links); it is renamed aside, never "
                                       "written, so they keep the old file.");
            }
        }
    }

    // The run's own names: what stands there now.
    const std::string root = files.RealPath(paths.installDirectory);
    DIR* dir = ::opendir(root.c_str());
    if (dir == nullptr) return survey;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) names.push_back(entry->d_name);
    ::closedir(dir);

    bool recordIsAFile = false;
    for (const std::string& name : names) {
        struct stat st;
        if (Lowered(name) == Lowered(kRecordFileName) &&
            ::lstat((root + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            recordIsAFile = true;
        }
    }
    for (const std::string& name : names) {
        const std::string real = root + "/" + name;
        struct stat st;
        if (::lstat(real.c_str(), &st) != 0) continue;
        const bool file = S_ISREG(st.st_mode);
        const std::string what = Quoted(real) + " (" + DescribeEntry(real) + ")";
        if (Lowered(name) == Lowered(kTemporaryFileName)) {
            if (S_ISDIR(st.st_mode)) {
                survey.notes.push_back(what + " stands under the run's temporary name, which the "
                                              "run cannot clear: remove it.");
            } else if (!recordIsAFile) {
                survey.notes.push_back(what + " was left under the run's temporary name; the run "
                                              "removes it and makes its own.");
            }
        } else if (Lowered(name) == Lowered(kRecordFileName)) {
            if (!file) {
                survey.notes.push_back(
                    what + " is not the record of an update run. The start sets it aside as " +
                    kAsideNamePrefix + "<n>.rec when the installation's files match the sums " +
                    "beside the payloads, and refuses otherwise.");
            }
        } else if (IsNumberedName(name, kAsideNameSuffix) && (!file || !recordIsAFile)) {
            survey.notes.push_back(what + " was left under a name the run sets originals aside "
                                          "under; the run leaves it alone and takes the next "
                                          "free name.");
        }
    }
    return survey;
}

}  // namespace morivane::sabunn
