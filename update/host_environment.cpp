#include "update/host_environment.h"

#include <cstring>
#include <optional>
#include <utility>

#include "update/product.h"

namespace morivane {

namespace {

// Closes a registry key when the operation that opened it returns.
class KeyCloser {
  public:
    KeyCloser(Registry& registry, RegistryKey key) : registry_(registry), key_(key) {}
    ~KeyCloser() { registry_.CloseKey(key_); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

  private:
    Registry& registry_;
    RegistryKey key_;
};

std::string ProductKey(const std::string& productName) {
    return kProductKeyPrefix + productName;
}

}  // namespace

std::size_t FindLastBackslash(std::string_view path) {
    std::size_t last = std::string_view::npos;
    std::size_t i = 0;
    while (i < path.size()) {
        const auto b = static_cast<std::uint8_t>(path[i]);
        if (b == '\\') last = i;
        // A lead byte swallows the byte after it, whatever its value; a lead
        // byte with nothing after it stands alone.
        i += (IsCp932LeadByte(b) && i + 1 < path.size() && path[i + 1] != '\0') ? 2 : 1;
    }
    return last;
}

HostEnvironment::HostEnvironment(OsInfo& os, Registry& registry, VersionFile& versions)
    : registry_(registry), versions_(versions) {
    if (const std::optional<OsVersion> version = os.QueryOsVersion()) {
        majorVersion = version->majorVersion;
        minorVersion = version->minorVersion;
        if (version->platformId == kPlatformWin32Nt) isWindowsNT = 1;
    }
    systemLanguage = os.SystemDefaultLanguage();
}

bool HostEnvironment::IsJapaneseSystem() const {
    return (systemLanguage & 0x3FF) == kLangJapanese;
}

bool HostEnvironment::IsVersionAtLeast(std::uint32_t major, std::uint32_t minor) const {
    if (majorVersion < major) return false;
    if (majorVersion > major) return true;
    return minorVersion >= minor;
}

int HostEnvironment::ReadRegistryString(RegistryKey root, const std::string& subKey,
                                        const std::string& valueName, std::string& out) {
    const std::optional<RegistryKey> key = registry_.OpenKey(root, subKey, kKeyRead);
    if (!key) return 0;
    KeyCloser closer(registry_, *key);

    std::uint8_t data[kPathBufferSize] = {};
    std::uint32_t type = 0;  // reported, deliberately not examined
    std::uint32_t size = kPathBufferSize;
    if (!registry_.QueryValue(*key, valueName, &type, data, &size)) return 0;

    const std::size_t stored = size < kPathBufferSize ? size : kPathBufferSize;
    const void* nul = std::memchr(data, 0, stored);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data)
                       : stored;
    out.assign(reinterpret_cast<const char*>(data), length);
    return 1;
}

int HostEnvironment::CreateRegistryKey(RegistryKey root, const std::string& subKey) {
    const std::optional<RegistryKey> key =
        registry_.CreateKey(root, subKey, "", kRegOptionNonVolatile, kKeyAllAccess);
    if (!key) return 0;
    registry_.CloseKey(*key);
    return 1;
}

int HostEnvironment::WriteRegistryString(RegistryKey root, const std::string& subKey,
                                         const std::string& valueName, const std::string& text) {
    std::optional<RegistryKey> key = registry_.OpenKey(root, subKey, kKeyAllAccess);
    if (!key) {
        if (!CreateRegistryKey(root, subKey)) return 0;
        key = registry_.OpenKey(root, subKey, kKeyAllAccess);
        if (!key) return 0;
    }
    KeyCloser closer(registry_, *key);
    // REG_SZ data carries its terminating NUL.
    const bool set = registry_.SetValue(*key, valueName, kRegSz,
                                        reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                        static_cast<std::uint32_t>(text.size() + 1));
    return set ? 1 : 0;
}

int HostEnvironment::ReadBootPath(const std::string& productName, std::string& out) {
    return ReadRegistryString(kLocalMachine, ProductKey(productName), kBootDirectoryValue, out);
}

int HostEnvironment::ReadInstallDirectory(const std::string& productName, std::string& out) {
    std::string path;
    if (!ReadBootPath(productName, path)) return 0;
    const std::size_t cut = FindLastBackslash(path);
    out = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    return 1;
}

int HostEnvironment::GetFileVersionString(const std::string& path, std::string& out) {
    std::optional<std::string> fileVersion = versions_.FileVersion(path);
    if (!fileVersion) return 0;
    out = std::move(*fileVersion);
    return 1;
}

int HostEnvironment::WriteVersion(const std::string& productName) {
    std::string bootPath;
    if (!ReadBootPath(productName, bootPath)) return 0;
    std::string fileVersion;
    if (!GetFileVersionString(bootPath, fileVersion)) return 0;
    return WriteRegistryString(kLocalMachine, ProductKey(productName), kVersionValue, fileVersion);
}

}  // namespace morivane
