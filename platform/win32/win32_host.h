// The host services over the Win32 ANSI calls that Windows 95 has:
// GetVersionExA and GetSystemDefaultLangID, the Reg*ExA family, and the
// version library (GetFileVersionInfoSizeA, GetFileVersionInfoA,
// VerQueryValueA).
#pragma once

#include <optional>
#include <string>

#include "seams/host_services.h"

namespace morivane {

class Win32Host final : public OsInfo, public Registry, public VersionFile {
  public:
    std::optional<OsVersion> QueryOsVersion() override;
    std::uint16_t SystemDefaultLanguage() override;

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

    // The version resource read with GetFileVersionInfoSizeA (its size; 0
    // fails) and GetFileVersionInfoA into a block of that size, then
    // "\VarFileInfo\Translation" and, under its first entry only,
    // "\StringFileInfo\LLLLCCCC\FileVersion" with VerQueryValueA. The text
    // ends at its NUL and never past the block.
    std::optional<std::string> FileVersion(const std::string& path) override;
};

}  // namespace morivane
