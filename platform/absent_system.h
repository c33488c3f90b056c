// Stand-ins for the Windows version probe and the registry on a host that has
// neither. Every query fails, so HostEnvironment reports version 0.0 and no
// registry value; only its version-resource operations are of use there.
#pragma once

#include "update/system_api.h"

namespace morivane {

class AbsentOsInfo final : public OsInfo {
  public:
    bool QueryOsVersion(OsVersionInfo&) override { return false; }
    std::uint16_t SystemDefaultLanguage() override { return 0; }
};

class AbsentRegistry final : public Registry {
  public:
    bool OpenKey(RegistryKey, const std::string&, std::uint32_t, RegistryKey*) override {
        return false;
    }
    bool QueryValue(RegistryKey, const std::string&, std::uint32_t*, std::uint8_t*,
                    std::uint32_t*) override {
        return false;
    }
    bool CreateKey(RegistryKey, const std::string&, const std::string&, std::uint32_t,
                   std::uint32_t, RegistryKey*) override {
        return false;
    }
    bool SetValue(RegistryKey, const std::string&, std::uint32_t, const std::uint8_t*,
                  std::uint32_t) override {
        return false;
    }
    void CloseKey(RegistryKey) override {}
};

}  // namespace morivane
