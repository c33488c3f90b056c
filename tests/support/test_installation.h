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
#include "tests/update/fake_file_system.h"
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
inline constexpr int kIds[] = {130, 137, 138, 139, 140};
inline constexpr std::int64_t kOriginalTime = 880000000;

inline std::string Original(std::size_t row) {
    return "original " + std::to_string(row);
}
inline std::string NewContent(std::size_t row) {
    return "new " + std::to_string(kIds[row]) + " from [" + Original(row) + "]";
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
    FakeFileSystem files;
    std::unique_ptr<HostEnvironment> hostEnvironment;
    RecordingView view;
    // Payload id -> the patch's result: 10 before anything is opened, any
    // other after the new file was created empty.
    std::map<int, int> failures;
    std::vector<std::tuple<std::string, std::string, int>> calls;

    // `readOnlyExecutable`: the executable carries the read-only attribute.
    explicit TestInstallation(bool readOnlyExecutable = false) {
        for (std::size_t row = 0; row < kTargets.size(); ++row) {
            files.Put(kTargets[row], Original(row), readOnlyExecutable && row == 0);
            files.files[kTargets[row]].time = kOriginalTime;
        }
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
    static std::map<std::string, FakeFileSystem::File> FilesAtFirst(
        const std::function<bool(const TestInstallation&)>& when) {
        TestInstallation run;
        std::map<std::string, FakeFileSystem::File> found;
        run.files.beforeMutation = [&] {
            if (found.empty() && when(run)) found = run.files.files;
        };
        run.Run();
        return found;
    }

    // Files the run made in the installation directory and left behind.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> left;
        for (const auto& [path, file] : files.files) {
            if (path.find("Clone") != std::string::npos) left.push_back(path);
        }
        return left;
    }
    bool VersionWritten() const { return host.Find(kKey, "Version") != nullptr; }

    // The installation as it was before any run: contents, attributes and
    // times, and nothing else.
    bool IsOriginal(bool readOnlyExecutable = false) const {
        if (files.files.size() != kTargets.size()) return false;
        for (std::size_t row = 0; row < kTargets.size(); ++row) {
            if (!files.Has(kTargets[row])) return false;
            const auto& f = files.At(kTargets[row]);
            if (f.content != Original(row) || f.readOnly != (readOnlyExecutable && row == 0) ||
                f.time != std::optional<std::int64_t>(kOriginalTime)) {
                return false;
            }
        }
        return true;
    }
    // The installation as a finished run leaves it.
    bool IsUpdated() const {
        if (files.files.size() != kTargets.size()) return false;
        for (std::size_t row = 0; row < kTargets.size(); ++row) {
            if (!files.Has(kTargets[row])) return false;
            const auto& f = files.At(kTargets[row]);
            if (f.content != NewContent(row) || f.readOnly ||
                f.time != std::optional<std::int64_t>(kUpdateTimestamp)) {
                return false;
            }
        }
        return true;
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
};

}  // namespace morivane::testing
