// The installation the update tests work on: Morivane 1.0.0.1 in the
// in-memory file system, registered in a fake registry, with a patch function
// that writes a recognisable new content for each file, and a view that
// records what the run shows. The executable reports 1, 0, 0, 2 once it holds
// its new content.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "patch/payload_sums.h"
#include "seams/message_numbers.h"
#include "tests/support/fake_host.h"
#include "tests/support/memory_file_system.h"
#include "update/host_environment.h"
#include "update/installation.h"
#include "update/product.h"
#include "update/update_run.h"

namespace morivane::testing {

inline const std::string kKey = "SOFTWARE\\KESTRON\\Morivane";
inline const std::string kDir = "C:\\Morivane\\";
inline const std::string kExe = kDir + "Morivane.exe";
inline const std::vector<std::string> kTargets = PathsOf(kExe, kDir).targets;
inline const std::string kTemp = kDir + "Clone.tmp";
inline const std::string kRecord = kDir + "Clone.rec";
inline constexpr int kIds[] = {kUpdateFiles[0].payloadId, kUpdateFiles[1].payloadId,
                               kUpdateFiles[2].payloadId, kUpdateFiles[3].payloadId,
                               kUpdateFiles[4].payloadId};
inline constexpr std::int64_t kOriginalTime = 880000000;

inline std::string Original(std::size_t row) {
    return "original " + std::to_string(row);
}
inline std::string NewContent(std::size_t row) {
    return "new " + std::to_string(kIds[row]) + " from [" + Original(row) + "]";
}

// Morivane 1.0.0.1 as installed, every file with its own time; the
// executable read-only when asked.
inline DiskImage OldTree(bool readOnlyExecutable = false) {
    DiskImage files;
    for (std::size_t row = 0; row < kTargets.size(); ++row) {
        files[kTargets[row]] =
            FileState{Original(row), readOnlyExecutable && row == 0, kOriginalTime};
    }
    return files;
}

// The installation as a finished run leaves it.
inline DiskImage NewTree() {
    DiskImage files;
    for (std::size_t row = 0; row < kTargets.size(); ++row) {
        files[kTargets[row]] = FileState{NewContent(row), false, kUpdateTimestamp};
    }
    return files;
}

// The files of a disk, one a line, for failure messages.
inline std::string Describe(const DiskImage& disk) {
    std::string text;
    for (const auto& [path, file] : disk) {
        text += "  " + path + ": \"" + file.content.substr(0, 40) + "\"" +
                (file.content.size() > 40 ? "..." : "") + " (" +
                std::to_string(file.content.size()) + " bytes" +
                (file.readOnly ? ", read-only" : "") +
                (file.time ? ", time " + std::to_string(*file.time) : "") + ")\n";
    }
    return text;
}

struct RecordingView : UpdateView {
    std::vector<std::string> events;
    std::vector<int> statuses;
    void ShowStatus(int n) override {
        statuses.push_back(n);
        events.push_back("status " + std::to_string(n));
    }
    void HideCancel() override { events.push_back("hide cancel"); }
    void BeginWaitCursor() override { events.push_back("wait begin"); }
    void EndWaitCursor() override { events.push_back("wait end"); }
};

struct TestInstallation {
    FakeHost host;
    MemoryFileSystem files;
    std::unique_ptr<HostEnvironment> hostEnvironment;
    RecordingView view;
    // Payload id -> the patch's result: 10 before anything is opened, any
    // other after the new file was created empty.
    std::map<int, int> failures;
    std::vector<std::tuple<std::string, std::string, int>> calls;

    // `readOnlyExecutable`: the executable carries the read-only attribute.
    explicit TestInstallation(bool readOnlyExecutable = false)
        : TestInstallation(OldTree(readOnlyExecutable), readOnlyExecutable) {}
    // An installation whose files are `disk`, all of it on the disk.
    explicit TestInstallation(const DiskImage& disk, bool readOnlyExecutable = false)
        : readOnlyExecutable_(readOnlyExecutable) {
        files.Load(disk);
        host.PutString(kKey, "BootDirectory", kExe);
        host.versionOf = [this](const std::string& path) -> std::optional<std::string> {
            if (!files.Has(path)) return std::nullopt;
            return files.At(path).content == NewContent(0) ? "1, 0, 0, 2" : "1, 0, 0, 1";
        };
        hostEnvironment = std::make_unique<HostEnvironment>(host, host, host);
    }

    // Reads the old file whole and writes the new one in two pieces, as a
    // patcher with a buffered stream does.
    int Patch(const std::string& oldPath, const std::string& newPath, int id) {
        calls.emplace_back(oldPath, newPath, id);
        auto in = files.OpenForReading(oldPath);
        if (in == nullptr || failures[id] == 10) return 10;
        std::string old(static_cast<std::size_t>(in->Length()), '\0');
        in->Read(old.data(), 1, old.size());
        auto out = files.CreateForWriting(newPath);
        if (out == nullptr) return 11;
        if (failures[id] != 0) return failures[id];
        const std::string content = "new " + std::to_string(id) + " from [" + old + "]";
        const std::size_t half = content.size() / 2;
        out->Write(content.data(), 1, half);
        out->Write(content.data() + half, 1, content.size() - half);
        return out->Close() ? 0 : 12;
    }
    UpdateContext Context() {
        return {
            files,
            [this](const std::string& o, const std::string& n, int id) { return Patch(o, n, id); },
            hostEnvironment.get()};
    }
    int Run(const std::string& bootPath = kExe, const std::string& dir = kDir) {
        return RunUpdate(Context(), bootPath, dir, view);
    }

    // The sums the payloads would carry for this installation.
    static UpdateSums Sums() {
        UpdateSums sums;
        for (std::size_t row = 0; row < kTargets.size(); ++row) {
            const std::string o = Original(row), n = NewContent(row);
            sums.push_back({*SumOf({reinterpret_cast<const std::uint8_t*>(o.data()), o.size()}),
                            *SumOf({reinterpret_cast<const std::uint8_t*>(n.data()), n.size()})});
        }
        return sums;
    }

    // The file table of a fresh installation's run at the first instant
    // (just before one of its changing operations) at which `when` holds;
    // empty when it never does. What a crash at that instant leaves, as far
    // as closed files are concerned.
    static DiskImage FilesAtFirst(const std::function<bool(const TestInstallation&)>& when) {
        TestInstallation run;
        DiskImage found;
        run.files.beforeMutation = [&] {
            if (found.empty() && when(run)) found = run.files.Image();
        };
        run.Run();
        return found;
    }

    // The volume just before each changing operation of `what`, and after
    // its end: every instant at which a cut can come.
    std::vector<Volume> RecordInstants(const std::function<void()>& what) {
        std::vector<Volume> instants;
        files.beforeMutation = [&] { instants.push_back(files.volume()); };
        what();
        files.beforeMutation = nullptr;
        instants.push_back(files.volume());
        return instants;
    }

    // Files the run made in the installation directory and left behind.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> left;
        for (const auto& [path, file] : files.Image()) {
            if (path.find("Clone") != std::string::npos) left.push_back(path);
        }
        return left;
    }
    bool VersionWritten() const { return host.Find(kKey, "Version") != nullptr; }

    // The installation as it was before any run, or as a finished run
    // leaves it: contents, attributes and times, and nothing else.
    bool IsOriginal() const { return files.Image() == OldTree(readOnlyExecutable_); }
    bool IsUpdated() const { return files.Image() == NewTree(); }

    // Gives the file at `path` the read-only attribute.
    void SetReadOnly(const std::string& path) {
        FileState state = files.At(path);
        state.readOnly = true;
        files.Put(path, state);
    }
    // Changes the content of the file at `path`, keeping the rest.
    void Rewrite(const std::string& path, const std::string& content) {
        FileState state = files.At(path);
        state.content = content;
        files.Put(path, state);
    }

    // One target holds its original content, attribute and time.
    void ExpectUntouched(std::size_t row, bool readOnly = false) const {
        ASSERT_TRUE(files.Has(kTargets[row])) << kTargets[row];
        const auto& f = files.At(kTargets[row]);
        EXPECT_EQ(f.content, Original(row)) << kTargets[row];
        EXPECT_EQ(f.readOnly, readOnly) << kTargets[row];
        EXPECT_EQ(f.time, std::optional<std::int64_t>(kOriginalTime)) << kTargets[row];
    }
    // One target holds its new content, writable, with the update's time.
    void ExpectReplaced(std::size_t row) const {
        ASSERT_TRUE(files.Has(kTargets[row])) << kTargets[row];
        const auto& f = files.At(kTargets[row]);
        EXPECT_EQ(f.content, NewContent(row));
        EXPECT_FALSE(f.readOnly);
        EXPECT_EQ(f.time, std::optional<std::int64_t>(kUpdateTimestamp));
    }

  private:
    bool readOnlyExecutable_ = false;
};

}  // namespace morivane::testing
