// What the host probe and the installation lookup ask of the system: the OS
// version and language, the registry, and a file's FileVersion text. The
// Win32 program answers with the system's calls (platform/win32/), the
// publisher's tool from the files themselves (platform/), the tests from
// in-memory fakes.
//
// Texts are byte strings in the system's ANSI code page (932 on the Japanese
// systems the updater accepts). Method names avoid the Win32 names, which
// <windows.h> defines as macros.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morivane {

// ---------------------------------------------------------------- OS probe

inline constexpr std::uint32_t kPlatformWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr std::uint32_t kPlatformWin32Nt = 2;       // VER_PLATFORM_WIN32_NT
inline constexpr std::uint16_t kLangJapanese = 0x11;       // LANG_JAPANESE

// The part of the version record the probe reads.
struct OsVersion {
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t platformId = 0;
};

class OsInfo {
  public:
    virtual ~OsInfo() = default;
    // The running system's version and platform family; nothing when the
    // query fails.
    virtual std::optional<OsVersion> QueryOsVersion() = 0;
    // The system's default language: primary language in the low 10 bits,
    // sublanguage in the upper 6.
    virtual std::uint16_t SystemDefaultLanguage() = 0;
};

// ---------------------------------------------------------------- registry

// An open registry key, or one of the predefined roots. Zero is never a key.
using RegistryKey = std::uintptr_t;

inline constexpr RegistryKey kLocalMachine = 0x80000002u;  // HKEY_LOCAL_MACHINE
inline constexpr std::uint32_t kKeyRead = 0x20019;         // KEY_READ
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;    // KEY_ALL_ACCESS
inline constexpr std::uint32_t kRegOptionNonVolatile = 0;  // REG_OPTION_NON_VOLATILE
inline constexpr std::uint32_t kRegSz = 1;                 // REG_SZ
inline constexpr std::uint32_t kRegExpandSz = 2;           // REG_EXPAND_SZ
inline constexpr std::uint32_t kRegBinary = 3;             // REG_BINARY

// The registry keeps handles: the lookup opens a key, queries or sets one
// value, and closes the key again on every path.
class Registry {
  public:
    virtual ~Registry() = default;
    // Opens `subKey` under `root` with `access`; nothing when the key is
    // missing or that access is denied.
    virtual std::optional<RegistryKey> OpenKey(RegistryKey root, const std::string& subKey,
                                               std::uint32_t access) = 0;
    // Reads a value into `data`: *size is the buffer's capacity on entry and
    // the bytes stored on success; *type gets the value's type. False when
    // the value is missing or its data does not fit.
    virtual bool QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t* size) = 0;
    // Creates `subKey` (or opens it when it exists) with the given class
    // text, options and access, and no security attributes.
    virtual std::optional<RegistryKey> CreateKey(RegistryKey root, const std::string& subKey,
                                                 const std::string& className,
                                                 std::uint32_t options, std::uint32_t access) = 0;
    // Stores `size` bytes as a value of `type`, replacing any earlier value
    // of that name.
    virtual bool SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) = 0;
    virtual void CloseKey(RegistryKey key) = 0;
};

// ------------------------------------------------------------ file versions

class VersionFile {
  public:
    virtual ~VersionFile() = default;
    // The FileVersion text of the file at `path`, read from its version
    // resource under the first translation that resource lists (no other
    // translation is tried); nothing when the file cannot be read, has no
    // version resource, lists no translation, or has no non-empty FileVersion
    // there.
    virtual std::optional<std::string> FileVersion(const std::string& path) = 0;
};

}  // namespace morivane
