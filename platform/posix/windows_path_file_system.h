// Windows-style paths inside one installation directory, on a case-sensitive
// POSIX file system.
//
// The update run forms its paths the Windows way: the installation directory
// with its trailing backslash, then names such as "dat\Iobjectc.til" and
// "Clone.tmp". An installation copied from Windows keeps whatever case its
// names had ("DAT\IOBJECTC.TIL"), and Windows finds such a file under any
// case. This adapter gives the run that behaviour over a real directory:
//
//   virtual path   <install-dir>\<name>\<name>...
//   real path      <root>/<entry>/<entry>...        (root: the real directory)
//
// The run never sees the real directory's path: it is a native path in
// whatever bytes its folders are named (UTF-8 Japanese, a backslash in a
// folder's name), which the run's code page 932 rules would split wrongly.
// The run is handed the fixed ASCII root "<install-dir>\" instead, and only
// the names it forms below it are read the Windows way.
//
// Each name is looked up exactly first; when no entry has that exact name, the
// one entry whose name equals it with ASCII letters folded is taken. A name
// that matches nothing (or, ambiguously, more than one entry) stays as given,
// so new files (the temporary file, moved-aside originals) get the name the
// run chose. A file that was found under another case and has since been
// moved or deleted is recreated under that same real name, so replacing
// "IOBJECTC.TIL" leaves "IOBJECTC.TIL", not a second "Iobjectc.til". Names
// that are ambiguous stay as given: no candidate is picked.
//
// Paths that do not start with the virtual prefix name nothing: every call on
// them fails, so the run cannot reach outside the installation.
#pragma once

#include <map>
#include <string>

#include "seams/file_system.h"

namespace morivane {

class WindowsPathFileSystem final : public FileSystem {
  public:
    // `real` does the work and must outlive the adapter. `root` is the real
    // installation directory; trailing slashes are dropped ("/" stays "/").
    WindowsPathFileSystem(FileSystem& real, std::string root);

    // "<install-dir>\": the installation directory to hand to the run, under
    // which every virtual path begins.
    const std::string& VirtualPrefix() const { return prefix_; }

    // The real path that `path` names now, resolved as described above, for
    // messages. Paths outside the prefix come back unchanged.
    std::string RealPath(const std::string& path);

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override;
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override;
    bool Exists(const std::string& path) override;
    bool IsWritable(const std::string& path) override;
    bool MakeWritable(const std::string& path) override;
    bool Delete(const std::string& path) override;
    bool Move(const std::string& from, const std::string& to) override;
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override;
    bool KeepAttributes(const std::string& from, const std::string& to) override;
    bool SyncFile(const std::string& path) override;
    bool SyncDirectory(const std::string& path) override;
    bool RanOutOfSpace() const override { return real_.RanOutOfSpace(); }

  private:
    bool Inside(const std::string& path) const {
        return path.compare(0, prefix_.size(), prefix_) == 0;
    }

    // What a name is in one real directory.
    struct Lookup {
        std::string entry;       // the exact name, or the one case-folded match
        bool ambiguous = false;  // no exact name, but several folded matches
    };
    static Lookup FindEntry(const std::string& directory, const std::string& name);

    FileSystem& real_;
    std::string root_;
    std::string prefix_;
    // Case-folded virtual path -> the real path it was last found at.
    std::map<std::string, std::string> foundAt_;
};

}  // namespace morivane
