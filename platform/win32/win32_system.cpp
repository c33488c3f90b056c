#include "platform/win32/win32_system.h"

#include <cstring>
#include <vector>

namespace morivane {

namespace {
HKEY AsKey(RegistryKey key) {
    return reinterpret_cast<HKEY>(key);
}
}  // namespace

std::string LoadCatalogueText(HINSTANCE module, int messageNumber) {
    // LoadStringA cuts a text to the buffer and says how much it stored; a
    // buffer filled to its last byte may have cut it, so it is tried larger.
    std::vector<char> buffer(256);
    for (;;) {
        const int length = LoadStringA(module, static_cast<UINT>(messageNumber), buffer.data(),
                                       static_cast<int>(buffer.size()));
        if (length <= 0) return std::string();
        if (static_cast<std::size_t>(length) + 1 < buffer.size() || buffer.size() >= 0x10000) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool Win32System::QueryOsVersion(OsVersionInfo& info) {
    static_assert(sizeof(OSVERSIONINFOA) == sizeof(OsVersionInfo));
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = info.osVersionInfoSize;
    if (!GetVersionExA(&version)) return false;
    info.majorVersion = version.dwMajorVersion;
    info.minorVersion = version.dwMinorVersion;
    info.buildNumber = version.dwBuildNumber;
    info.platformId = version.dwPlatformId;
    std::memcpy(info.csdVersion, version.szCSDVersion, sizeof info.csdVersion);
    return true;
}

std::uint16_t Win32System::SystemDefaultLanguage() {
    return GetSystemDefaultLangID();
}

bool Win32System::OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t access,
                          RegistryKey* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(AsKey(root), subKey.c_str(), 0, access, &opened) != ERROR_SUCCESS) {
        return false;
    }
    *key = reinterpret_cast<RegistryKey>(opened);
    return true;
}

bool Win32System::QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
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

bool Win32System::CreateKey(RegistryKey root, const std::string& subKey,
                            const std::string& className, std::uint32_t options,
                            std::uint32_t access, RegistryKey* key) {
    HKEY created = nullptr;
    DWORD disposition = 0;
    std::vector<char> classText(className.begin(), className.end());
    classText.push_back('\0');
    if (RegCreateKeyExA(AsKey(root), subKey.c_str(), 0, classText.data(), options, access, nullptr,
                        &created, &disposition) != ERROR_SUCCESS) {
        return false;
    }
    *key = reinterpret_cast<RegistryKey>(created);
    return true;
}

bool Win32System::SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExA(AsKey(key), valueName.c_str(), 0, type, data, size) == ERROR_SUCCESS;
}

void Win32System::CloseKey(RegistryKey key) {
    RegCloseKey(AsKey(key));
}

std::uint32_t Win32System::VersionInfoSize(const std::string& path, std::uint32_t* handle) {
    DWORD h = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &h);
    *handle = h;
    return size;
}

bool Win32System::ReadVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size,
                                  void* block) {
    return GetFileVersionInfoA(path.c_str(), handle, size, block) != FALSE;
}

bool Win32System::QueryVersionValue(const void* block, const std::string& subBlock,
                                    const void** data, std::uint32_t* length) {
    void* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueA(block, subBlock.c_str(), &value, &valueLength)) return false;
    *data = value;
    *length = valueLength;
    return true;
}

int Win32System::ShowMessageBox(const std::string& text, const std::optional<std::string>& caption,
                                std::uint32_t style) {
    return MessageBoxA(nullptr, text.c_str(), caption ? caption->c_str() : nullptr, style);
}

bool Win32System::TopLevelWindowExists(const std::string& title) {
    return FindWindowA(nullptr, title.c_str()) != nullptr;
}

std::string Win32System::LoadText(int messageNumber) {
    return LoadCatalogueText(module_, messageNumber);
}

std::uintptr_t Win32System::SetWaitCursor() {
    return reinterpret_cast<std::uintptr_t>(SetCursor(LoadCursorA(nullptr, IDC_WAIT)));
}

void Win32System::RestoreCursor(std::uintptr_t cursor) {
    SetCursor(reinterpret_cast<HCURSOR>(cursor));
}

}  // namespace morivane
