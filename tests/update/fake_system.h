// In-memory stand-ins for the system services of update/system_api.h: an OS
// probe, a registry with handles, version resources, a desktop with message
// boxes and windows, and a dialog runner. Every call is recorded, and each
// service can be made to fail.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/catalogue.h"
#include "update/system_api.h"
#include "update/updater_app.h"

namespace morivane::testing {

// What a file's version resource holds: its translations in order, and
// string values by "LLLLCCCC\Name".
struct FakeVersionResource {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;  // language, code page
    std::map<std::string, std::string> strings;
    std::optional<std::uint32_t> fileVersionLength;  // reported length override

    static FakeVersionResource Japanese(const std::string& fileVersion) {
        FakeVersionResource r;
        r.translations = {{0x0411, 0x04B0}};
        r.strings["041104B0\\FileVersion"] = fileVersion;
        return r;
    }
};

struct MessageBoxCall {
    std::string text;
    std::optional<std::string> caption;
    std::uint32_t style;
};

class FakeSystem : public OsInfo,
                   public Registry,
                   public VersionResources,
                   public Desktop,
                   public UpdateDialogRunner {
  public:
    // ------------------------------------------------------------- OS probe
    bool versionQuerySucceeds = true;
    OsVersionInfo os = [] {
        OsVersionInfo v;
        v.majorVersion = 4;
        v.minorVersion = 10;
        v.platformId = kPlatformWin32Windows;
        return v;
    }();
    std::uint16_t language = 0x0411;
    std::uint32_t sizeFieldSeen = 0;

    bool QueryOsVersion(OsVersionInfo& info) override {
        sizeFieldSeen = info.osVersionInfoSize;
        // Like GetVersionExA, refuses a record whose size field is wrong.
        if (!versionQuerySucceeds || info.osVersionInfoSize != 148) return false;
        info = os;
        info.osVersionInfoSize = 148;
        return true;
    }
    std::uint16_t SystemDefaultLanguage() override { return language; }

    void SetWindows(std::uint32_t major, std::uint32_t minor, std::uint32_t platform) {
        os.majorVersion = major;
        os.minorVersion = minor;
        os.platformId = platform;
    }

    // ------------------------------------------------------------- registry
    struct Value {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    using Key = std::map<std::string, Value>;
    std::map<std::string, Key> keys;  // by "root\subkey"

    std::set<std::string> denyAllAccess;  // keys that KEY_ALL_ACCESS cannot open
    bool createFails = false;
    bool setFails = false;
    bool openAfterCreateFails = false;

    int queries = 0;
    int writes = 0;  // CreateKey and SetValue calls
    std::vector<std::string> createClasses;
    std::vector<std::uint32_t> createOptions, createAccess;
    std::vector<std::uint32_t> openAccess;

    static std::string Path(RegistryKey root, const std::string& subKey) {
        return std::to_string(root) + "\\" + subKey;
    }
    void PutString(const std::string& subKey, const std::string& name, const std::string& text,
                   std::uint32_t type = kRegSz, bool withNul = true) {
        std::vector<std::uint8_t> data(text.begin(), text.end());
        if (withNul) data.push_back(0);
        keys[Path(kLocalMachine, subKey)][name] = {type, data};
    }
    const Value* Find(const std::string& subKey, const std::string& name) const {
        auto k = keys.find(Path(kLocalMachine, subKey));
        if (k == keys.end()) return nullptr;
        auto v = k->second.find(name);
        return v == k->second.end() ? nullptr : &v->second;
    }
    std::size_t OpenHandles() const { return handles_.size(); }

    bool OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t access,
                 RegistryKey* key) override {
        openAccess.push_back(access);
        const std::string path = Path(root, subKey);
        if (keys.count(path) == 0) return false;
        if (access == kKeyAllAccess && denyAllAccess.count(path) != 0) return false;
        if (access == kKeyAllAccess && openAfterCreateFails && createdOnce_) return false;
        *key = nextHandle_++;
        handles_[*key] = path;
        return true;
    }
    bool QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* size) override {
        ++queries;
        auto h = handles_.find(key);
        if (h == handles_.end()) return false;
        auto& values = keys[h->second];
        auto v = values.find(valueName);
        if (v == values.end()) return false;
        if (v->second.data.size() > *size) {
            *size = static_cast<std::uint32_t>(v->second.data.size());
            return false;  // ERROR_MORE_DATA
        }
        *type = v->second.type;
        std::memcpy(data, v->second.data.data(), v->second.data.size());
        *size = static_cast<std::uint32_t>(v->second.data.size());
        return true;
    }
    bool CreateKey(RegistryKey root, const std::string& subKey, const std::string& className,
                   std::uint32_t options, std::uint32_t access, RegistryKey* key) override {
        ++writes;
        createClasses.push_back(className);
        createOptions.push_back(options);
        createAccess.push_back(access);
        if (createFails) return false;
        createdOnce_ = true;
        const std::string path = Path(root, subKey);
        keys[path];
        *key = nextHandle_++;
        handles_[*key] = path;
        return true;
    }
    bool SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override {
        ++writes;
        auto h = handles_.find(key);
        if (setFails || h == handles_.end()) return false;
        keys[h->second][valueName] = {type, std::vector<std::uint8_t>(data, data + size)};
        return true;
    }
    void CloseKey(RegistryKey key) override {
        if (handles_.erase(key) == 0) ++badCloses;
    }
    int badCloses = 0;

    // ---------------------------------------------------- version resources
    std::map<std::string, FakeVersionResource> versions;
    // When set, decides each file's resource (for instance from its current
    // content); otherwise `versions` does.
    std::function<std::optional<FakeVersionResource>(const std::string&)> versionOf;
    bool readVersionFails = false;
    std::vector<std::string> versionQueries;  // sub-blocks asked for

    std::uint32_t VersionInfoSize(const std::string& path, std::uint32_t* handle) override {
        auto resource = Resolve(path);
        if (!resource) return 0;
        *handle = kVersionHandle;
        return static_cast<std::uint32_t>(Serialise(*resource).size());
    }
    bool ReadVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size,
                         void* block) override {
        auto resource = Resolve(path);
        if (readVersionFails || !resource || handle != kVersionHandle) return false;
        const std::vector<std::uint8_t> bytes = Serialise(*resource);
        if (size < bytes.size()) return false;
        std::memcpy(block, bytes.data(), bytes.size());
        return true;
    }
    bool QueryVersionValue(const void* block, const std::string& subBlock, const void** data,
                           std::uint32_t* length) override {
        versionQueries.push_back(subBlock);
        // The block is a list of entries: name length, name, reported length,
        // data length, data (32-bit little-endian counts).
        const auto* p = static_cast<const std::uint8_t*>(block);
        const std::uint32_t count = Load(p);
        p += 4;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t nameLength = Load(p);
            const std::string name(reinterpret_cast<const char*>(p + 4), nameLength);
            p += 4 + nameLength;
            const std::uint32_t reported = Load(p);
            const std::uint32_t dataLength = Load(p + 4);
            p += 8;
            if (name == subBlock) {
                *data = p;
                *length = reported;
                return true;
            }
            p += dataLength;
        }
        return false;
    }

    // ------------------------------------------------------------- desktop
    std::vector<MessageBoxCall> boxes;
    int confirmationAnswer = kIdOk;
    std::set<std::string> windows;  // titles of open top-level windows
    std::vector<std::string> events;
    std::vector<std::uintptr_t> restoredCursors;
    int waitCursorsSet = 0;

    int ShowMessageBox(const std::string& text, const std::optional<std::string>& caption,
                       std::uint32_t style) override {
        boxes.push_back({text, caption, style});
        events.push_back("box " + std::to_string(NumberOf(text)));
        return (style & 0xF) == kMbOkCancel ? confirmationAnswer : kIdOk;
    }
    bool TopLevelWindowExists(const std::string& title) override {
        events.push_back("find " + std::to_string(NumberOf(title)));
        return windows.count(title) != 0;
    }
    std::string LoadText(int messageNumber) override {
        const CatalogueEntry* entry = FindMessage(messageNumber);
        return entry != nullptr ? entry->text : std::string();
    }
    std::uintptr_t SetWaitCursor() override {
        ++waitCursorsSet;
        return kArrowCursor;
    }
    void RestoreCursor(std::uintptr_t cursor) override { restoredCursors.push_back(cursor); }

    static constexpr std::uintptr_t kArrowCursor = 0x1001;

    // The message number whose catalogue text is `text`, or -1.
    static int NumberOf(const std::string& text) {
        for (const CatalogueEntry& e : Catalogue()) {
            if (text == e.text) return e.number;
        }
        return -1;
    }

    // -------------------------------------------------------- dialog runner
    struct DialogRun {
        std::string bootPath;
        std::string installDirectory;
        bool hasHostEnvironment;
    };
    std::vector<DialogRun> dialogRuns;

    void RunUpdateDialog() override {
        events.push_back("dialog");
        UpdaterApp* app = UpdaterApp::Current();
        dialogRuns.push_back(
            {app->bootPath, app->installDirectory, app->hostEnvironment != nullptr});
    }

    StartupServices Services() { return {*this, *this, *this, *this, *this}; }

  private:
    static constexpr std::uint32_t kVersionHandle = 0x5A5A;

    std::optional<FakeVersionResource> Resolve(const std::string& path) {
        if (versionOf) return versionOf(path);
        auto it = versions.find(path);
        if (it == versions.end()) return std::nullopt;
        return it->second;
    }
    static std::uint32_t Load(const std::uint8_t* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static void Append(std::vector<std::uint8_t>& out, std::uint32_t v) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(&v);
        out.insert(out.end(), b, b + 4);
    }
    static std::vector<std::uint8_t> Serialise(const FakeVersionResource& r) {
        std::vector<std::pair<std::string, std::pair<std::uint32_t, std::vector<std::uint8_t>>>>
            entries;
        if (!r.translations.empty()) {
            std::vector<std::uint8_t> t;
            for (auto [lang, cp] : r.translations) Append(t, lang | (std::uint32_t{cp} << 16));
            entries.push_back(
                {"\\VarFileInfo\\Translation", {static_cast<std::uint32_t>(t.size()), t}});
        }
        for (const auto& [name, text] : r.strings) {
            std::vector<std::uint8_t> t(text.begin(), text.end());
            t.push_back(0);
            std::uint32_t reported = static_cast<std::uint32_t>(t.size());
            if (r.fileVersionLength && name.ends_with("\\FileVersion")) {
                reported = *r.fileVersionLength;
            }
            entries.push_back({"\\StringFileInfo\\" + name, {reported, t}});
        }
        std::vector<std::uint8_t> out;
        Append(out, static_cast<std::uint32_t>(entries.size()));
        for (const auto& [name, value] : entries) {
            Append(out, static_cast<std::uint32_t>(name.size()));
            out.insert(out.end(), name.begin(), name.end());
            Append(out, value.first);
            Append(out, static_cast<std::uint32_t>(value.second.size()));
            out.insert(out.end(), value.second.begin(), value.second.end());
        }
        return out;
    }

    std::map<RegistryKey, std::string> handles_;
    RegistryKey nextHandle_ = 0x100;
    bool createdOnce_ = false;
};

}  // namespace morivane::testing
