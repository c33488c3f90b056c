#include "platform/win32/win32_host.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pe/version_info.h"

namespace morivane {

namespace {
HKEY AsKey(RegistryKey key) {
    return reinterpret_cast<HKEY>(key);
}
}  // namespace

std::optional<OsVersion> Win32Host::QueryOsVersion() {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;  // 148
    if (!GetVersionExA(&version)) return std::nullopt;
    return OsVersion{version.dwMajorVersion, version.dwMinorVersion, version.dwPlatformId};
}

std::uint16_t Win32Host::SystemDefaultLanguage() {
    return GetSystemDefaultLangID();
}

std::optional<RegistryKey> Win32Host::OpenKey(RegistryKey root, const std::string& subKey,
                                              std::uint32_t access) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(AsKey(root), subKey.c_str(), 0, access, &opened) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return reinterpret_cast<RegistryKey>(opened);
}

bool Win32Host::QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
                           std::uint8_t* data, std::uint32_t* size) {
    DWORD valueType = 0;
    DWORD valueSize = *size;
    if (RegQueryValueExA(AsKey(key), valueName.c_str(), nullptr, &valueType, data, &valueSize) !=
        ERROR_SUCCESS) {
        return false;
    }
    *type = valueType;
    *size = valueSize;
    return true;
}

std::optional<RegistryKey> Win32Host::CreateKey(RegistryKey root, const std::string& subKey,
                                                const std::string& className, std::uint32_t options,
                                                std::uint32_t access) {
    HKEY created = nullptr;
    DWORD disposition = 0;
    std::vector<char> classText(className.begin(), className.end());
    classText.push_back('\0');
    if (RegCreateKeyExA(AsKey(root), subKey.c_str(), 0, classText.data(), options, access, nullptr,
                        &created, &disposition) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return reinterpret_cast<RegistryKey>(created);
}

bool Win32Host::SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                         const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExA(AsKey(key), valueName.c_str(), 0, type, data, size) == ERROR_SUCCESS;
}

void Win32Host::CloseKey(RegistryKey key) {
    RegCloseKey(AsKey(key));
}

std::optional<std::string> Win32Host::FileVersion(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return std::nullopt;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]());
    if (!block) return std::nullopt;
    if (!GetFileVersionInfoA(path.c_str(), handle, size, block.get())) return std::nullopt;

    void* translation = nullptr;
    UINT translationLength = 0;
    char translationKey[] = "\\VarFileInfo\\Translation";
    if (!VerQueryValueA(block.get(), translationKey, &translation, &translationLength) ||
        translation == nullptr || translationLength < 4) {
        return std::nullopt;
    }
    const auto* entry = static_cast<const unsigned char*>(translation);
    const Translation first{static_cast<std::uint16_t>(entry[0] | (entry[1] << 8)),
                            static_cast<std::uint16_t>(entry[2] | (entry[3] << 8))};
    std::string key = FileVersionPath(first);

    void* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueA(block.get(), key.data(), &value, &valueLength) || value == nullptr ||
        valueLength == 0) {
        return std::nullopt;
    }
    // The text ends at its NUL; it is never read past the end of the block.
    const char* text = static_cast<const char*>(value);
    const char* end = block.get() + size;
    const std::size_t limit =
        (text >= block.get() && text < end) ? static_cast<std::size_t>(end - text) : valueLength;
    return std::string(text, strnlen(text, limit));
}

}  // namespace morivane
