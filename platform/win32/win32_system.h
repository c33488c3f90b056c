// The system services of update/system_api.h over the Win32 ANSI calls that
// Windows 95 has: GetVersionExA, the Reg*ExA family, the version library,
// MessageBoxA, FindWindowA, LoadStringA and SetCursor.
#pragma once

#include <windows.h>

#include <string>

#include "update/system_api.h"

namespace morivane {

// Catalogue text `messageNumber` from the string table of `module`, whole
// whatever its length, in the system's ANSI code page; empty when the table
// has no such text.
std::string LoadCatalogueText(HINSTANCE module, int messageNumber);

class Win32System final : public OsInfo, public Registry, public VersionResources, public Desktop {
  public:
    // Texts are loaded from the string table of `module`.
    explicit Win32System(HINSTANCE module) : module_(module) {}

    bool QueryOsVersion(OsVersionInfo& info) override;
    std::uint16_t SystemDefaultLanguage() override;

    bool OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t access,
                 RegistryKey* key) override;
    bool QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* size) override;
    bool CreateKey(RegistryKey root, const std::string& subKey, const std::string& className,
                   std::uint32_t options, std::uint32_t access, RegistryKey* key) override;
    bool SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                  const std::uint8_t* data, std::uint32_t size) override;
    void CloseKey(RegistryKey key) override;

    std::uint32_t VersionInfoSize(const std::string& path, std::uint32_t* handle) override;
    bool ReadVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size,
                         void* block) override;
    bool QueryVersionValue(const void* block, const std::string& subBlock, const void** data,
                           std::uint32_t* length) override;

    int ShowMessageBox(const std::string& text, const std::optional<std::string>& caption,
                       std::uint32_t style) override;
    bool TopLevelWindowExists(const std::string& title) override;
    std::string LoadText(int messageNumber) override;
    std::uintptr_t SetWaitCursor() override;
    void RestoreCursor(std::uintptr_t cursor) override;

  private:
    HINSTANCE module_;
};

}  // namespace morivane
