// In-memory host services (seams/host_services.h) for the tests: an OS probe,
// a registry with handles, and the files' FileVersion texts. Every call is
// recorded, and each service can be made to fail.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "seams/host_services.h"

namespace morivane::testing {

class FakeHost : public OsInfo, public Registry, public VersionFile {
  public:
    // ------------------------------------------------------------- OS probe
    std::optional<OsVersion> os = OsVersion{4, 10, kPlatformWin32Windows};  // nullopt: fails
    std::uint16_t language = 0x0411;

    std::optional<OsVersion> QueryOsVersion() override { return os; }
    std::uint16_t SystemDefaultLanguage() override { return language; }

    void SetWindows(std::uint32_t major, std::uint32_t minor, std::uint32_t platform) {
        os = OsVersion{major, minor, platform};
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
    int badCloses = 0;
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

    std::optional<RegistryKey> OpenKey(RegistryKey root, const std::string& subKey,
                                       std::uint32_t access) override {
        openAccess.push_back(access);
        const std::string path = Path(root, subKey);
        if (keys.count(path) == 0) return std::nullopt;
        if (access == kKeyAllAccess && denyAllAccess.count(path) != 0) return std::nullopt;
        if (access == kKeyAllAccess && openAfterCreateFails && createdOnce_) return std::nullopt;
        handles_[nextHandle_] = path;
        return nextHandle_++;
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
    std::optional<RegistryKey> CreateKey(RegistryKey root, const std::string& subKey,
                                         const std::string& className, std::uint32_t options,
                                         std::uint32_t access) override {
        ++writes;
        createClasses.push_back(className);
        createOptions.push_back(options);
        createAccess.push_back(access);
        if (createFails) return std::nullopt;
        createdOnce_ = true;
        const std::string path = Path(root, subKey);
        keys[path];
        handles_[nextHandle_] = path;
        return nextHandle_++;
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

    // ---------------------------------------------------------- file versions
    std::map<std::string, std::string> fileVersions;  // path -> FileVersion
    // When set, decides each file's FileVersion (for instance from its
    // current content); otherwise `fileVersions` does.
    std::function<std::optional<std::string>(const std::string&)> versionOf;
    std::vector<std::string> versionReads;  // paths asked for

    std::optional<std::string> FileVersion(const std::string& path) override {
        versionReads.push_back(path);
        if (versionOf) return versionOf(path);
        auto it = fileVersions.find(path);
        if (it == fileVersions.end()) return std::nullopt;
        return it->second;
    }

  private:
    std::map<RegistryKey, std::string> handles_;
    RegistryKey nextHandle_ = 0x100;
    bool createdOnce_ = false;
};

}  // namespace morivane::testing
