// The system services that start-up and the installation lookup use, behind
// narrow interfaces shaped after the Win32 calls beneath them. The Win32 build
// implements them with those calls (platform/win32/); the native tests with an
// in-memory fake that records every call and can fail any of them.
//
// Texts are byte strings in the system's ANSI code page (932 on the Japanese
// systems the updater accepts). Nothing here includes <windows.h>, and the
// method names avoid the Win32 names because <windows.h> defines most of those
// as macros.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morivane {

// ---------------------------------------------------------------- OS probe

// Mirror of OSVERSIONINFOA: five 32-bit fields and a 128-byte service-pack
// text, 148 bytes in all. The size field must say 148 before the query.
struct OsVersionInfo {
    std::uint32_t osVersionInfoSize = 0;
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t buildNumber = 0;
    std::uint32_t platformId = 0;
    char csdVersion[128] = {};
};
static_assert(sizeof(OsVersionInfo) == 148, "OsVersionInfo must match OSVERSIONINFOA");

inline constexpr std::uint32_t kPlatformWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr std::uint32_t kPlatformWin32Nt = 2;       // VER_PLATFORM_WIN32_NT
inline constexpr std::uint16_t kLangJapanese = 0x11;       // LANG_JAPANESE

class OsInfo {
  public:
    virtual ~OsInfo() = default;
    // GetVersionExA: fills `info` when its size field says 148 and returns
    // true; false (record unchanged) when the query fails.
    virtual bool QueryOsVersion(OsVersionInfo& info) = 0;
    // GetSystemDefaultLangID: primary language in the low 10 bits,
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

class Registry {
  public:
    virtual ~Registry() = default;
    // RegOpenKeyExA: opens `subKey` under `root` with `access`. True and *key
    // set on success; false when the key is missing or that access is denied.
    virtual bool OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t access,
                         RegistryKey* key) = 0;
    // RegQueryValueExA: *size is the buffer's capacity on entry and the bytes
    // stored on success; *type gets the value's type. False when the value is
    // missing or its data does not fit.
    virtual bool QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t* size) = 0;
    // RegCreateKeyExA: creates `subKey` (or opens it when it exists) with the
    // given class text, options and access; no security attributes.
    virtual bool CreateKey(RegistryKey root, const std::string& subKey,
                           const std::string& className, std::uint32_t options,
                           std::uint32_t access, RegistryKey* key) = 0;
    // RegSetValueExA: stores `size` bytes as a value of `type`, replacing any
    // earlier value of that name.
    virtual bool SetValue(RegistryKey key, const std::string& valueName, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) = 0;
    // RegCloseKey.
    virtual void CloseKey(RegistryKey key) = 0;
};

// ------------------------------------------------------- version resources

class VersionResources {
  public:
    virtual ~VersionResources() = default;
    // GetFileVersionInfoSizeA: bytes of the file's version resource, 0 when it
    // has none or cannot be read; *handle gets a value for ReadVersionInfo.
    virtual std::uint32_t VersionInfoSize(const std::string& path, std::uint32_t* handle) = 0;
    // GetFileVersionInfoA: copies the version resource into `block` (`size`
    // bytes, as VersionInfoSize reported).
    virtual bool ReadVersionInfo(const std::string& path, std::uint32_t handle, std::uint32_t size,
                                 void* block) = 0;
    // VerQueryValueA: finds `subBlock` ("\VarFileInfo\Translation",
    // "\StringFileInfo\041104B0\FileVersion", ...) in a block that
    // ReadVersionInfo filled; *data points into the block and *length is the
    // item's length (bytes for binary items, characters for texts).
    virtual bool QueryVersionValue(const void* block, const std::string& subBlock,
                                   const void** data, std::uint32_t* length) = 0;
};

// ------------------------------------------------------------ desktop shell

inline constexpr std::uint32_t kMbOk = 0x00;               // MB_OK
inline constexpr std::uint32_t kMbOkCancel = 0x01;         // MB_OKCANCEL
inline constexpr std::uint32_t kMbIconError = 0x10;        // MB_ICONERROR
inline constexpr std::uint32_t kMbIconInformation = 0x40;  // MB_ICONINFORMATION
inline constexpr int kIdOk = 1;                            // IDOK
inline constexpr int kIdCancel = 2;                        // IDCANCEL

class Desktop {
  public:
    virtual ~Desktop() = default;
    // MessageBoxA with no owner window: `caption` absent shows the system's
    // default caption. Returns the id of the button that closed the box.
    virtual int ShowMessageBox(const std::string& text, const std::optional<std::string>& caption,
                               std::uint32_t style) = 0;
    // FindWindowA with no class: whether a top-level window titled exactly
    // `title` exists now.
    virtual bool TopLevelWindowExists(const std::string& title) = 0;
    // The catalogue text of `messageNumber`, whole; empty when there is none.
    virtual std::string LoadText(int messageNumber) = 0;
    // Sets the wait (hourglass) cursor and returns the cursor it replaced.
    virtual std::uintptr_t SetWaitCursor() = 0;
    // Sets a cursor that SetWaitCursor returned.
    virtual void RestoreCursor(std::uintptr_t cursor) = 0;
};

}  // namespace morivane
