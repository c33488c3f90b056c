// The host services on a system that is not Windows: no version probe (the
// machine checks are turned off there), and a registry held in memory that
// starts with what the caller puts in it, so that the installation lookup and
// the version record run unchanged.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "seams/host_services.h"

namespace morivane {

class AbsentOsInfo final : public OsInfo {
  public:
    std::optional<OsVersion> QueryOsVersion() override { return std::nullopt; }
    std::uint16_t SystemDefaultLanguage() override { return 0; }
};

class MemoryRegistry final : public Registry {
  public:
    // Stores `text` with its NUL as a REG_SZ value of HKEY_LOCAL_MACHINE\`subKey`.
    void PutString(const std::string& subKey, const std::string& valueName,
                   const std::string& text);
    // The text of a REG_SZ value up to its NUL, when there is one.
    std::optional<std::string> GetString(const std::string& subKey,
                                         const std::string& valueName) const;

    std::optional<RegistryKey> OpenKey(RegistryKey root, const std::string& subKey,
                                       std::uint32_t access) override;
    bool QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* size) override;
    std::optional<RegistryKey> CreateKey(RegistryKey root, const std::string& subKey,
                                         const std::string& className, std::uint32_t options,
                                         std::uint32_t access) override;
    bool SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
    void CloseKey(RegistryKey key) override;

  private:
    struct Value {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };
    using Key = std::map<std::string, Value>;
    static std::string PathOf(RegistryKey root, const std::string& subKey);

    std::map<std::string, Key> keys_;          // by root and path
    std::map<RegistryKey, std::string> open_;  // handle -> key path
    RegistryKey nextHandle_ = 1;
};

}  // namespace morivane
