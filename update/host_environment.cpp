#include "update/host_environment.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "decode/bytes.h"

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

HostEnvironment::HostEnvironment(OsInfo& os, Registry& registry, VersionResources& versions)
    : registry_(registry), versions_(versions) {
    isWindowsNT = 0;
    majorVersion = 0;
    minorVersion = 0;
    versionInfo = OsVersionInfo{};
    versionInfo.osVersionInfoSize = sizeof(OsVersionInfo);
    if (os.QueryOsVersion(versionInfo)) {
        majorVersion = versionInfo.majorVersion;
        minorVersion = versionInfo.minorVersion;
        if (versionInfo.platformId == kPlatformWin32Nt) isWindowsNT = 1;
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
    RegistryKey key = 0;
    if (!registry_.OpenKey(root, subKey, kKeyRead, &key)) return 0;
    KeyCloser closer(registry_, key);

    std::uint8_t data[kPathBufferSize] = {};
    std::uint32_t type = 0;  // reported, deliberately not examined
    std::uint32_t size = kPathBufferSize;
    if (!registry_.QueryValue(key, valueName, &type, data, &size)) return 0;

    const std::size_t stored = size < kPathBufferSize ? size : kPathBufferSize;
    const void* nul = std::memchr(data, 0, stored);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data)
                       : stored;
    out.assign(reinterpret_cast<const char*>(data), length);
    return 1;
}

int HostEnvironment::CreateRegistryKey(RegistryKey root, const std::string& subKey) {
    RegistryKey key = 0;
    if (!registry_.CreateKey(root, subKey, "", kRegOptionNonVolatile, kKeyAllAccess, &key)) {
        return 0;
    }
    registry_.CloseKey(key);
    return 1;
}

int HostEnvironment::WriteRegistryString(RegistryKey root, const std::string& subKey,
                                         const std::string& valueName, const std::string& text) {
    RegistryKey key = 0;
    if (!registry_.OpenKey(root, subKey, kKeyAllAccess, &key)) {
        if (!CreateRegistryKey(root, subKey)) return 0;
        if (!registry_.OpenKey(root, subKey, kKeyAllAccess, &key)) return 0;
    }
    KeyCloser closer(registry_, key);
    // REG_SZ data carries its terminating NUL.
    const bool set = registry_.SetValue(key, valueName, kRegSz,
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

// Version resource queries:
//   "\VarFileInfo\Translation"  array of 32-bit entries, each a 16-bit
//                               language id (low half) and a 16-bit code
//                               page (high half), little-endian;
//   "\StringFileInfo\LLLLCCCC\FileVersion"
//                               the text under one translation, LLLL and CCCC
//                               being language and code page as four
//                               upper-case hexadecimal digits.
int HostEnvironment::GetFileVersionString(const std::string& path, std::string& out) {
    std::uint32_t handle = 0;
    const std::uint32_t size = versions_.VersionInfoSize(path, &handle);
    if (size == 0) return 0;

    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[size]());
    if (!block) return 0;
    if (!versions_.ReadVersionInfo(path, handle, size, block.get())) return 0;

    const void* translation = nullptr;
    std::uint32_t translationLength = 0;
    if (!versions_.QueryVersionValue(block.get(), "\\VarFileInfo\\Translation", &translation,
                                     &translationLength) ||
        translation == nullptr || translationLength < 4) {
        return 0;
    }
    const auto* entry = static_cast<const std::uint8_t*>(translation);
    const unsigned language = LoadLe16(entry);
    const unsigned codePage = LoadLe16(entry + 2);

    char key[kPathBufferSize];
    std::snprintf(key, sizeof key, "\\StringFileInfo\\%04X%04X\\FileVersion", language, codePage);

    const void* value = nullptr;
    std::uint32_t valueLength = 0;
    if (!versions_.QueryVersionValue(block.get(), key, &value, &valueLength) || value == nullptr ||
        valueLength == 0) {
        return 0;
    }
    // The text ends at its NUL; it is never read past the end of the block.
    const auto* text = static_cast<const char*>(value);
    const auto* blockBegin = reinterpret_cast<const char*>(block.get());
    const std::size_t limit = (text >= blockBegin && text < blockBegin + size)
                                  ? static_cast<std::size_t>(blockBegin + size - text)
                                  : valueLength;
    out.assign(text, strnlen(text, limit));
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
