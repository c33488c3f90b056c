// Calls GetModuleHandleW, LoadLibraryW and CreateSemaphoreW the way the
// runtime does, through their import pointers, which the platform library's
// ANSI stand-ins replace, and shows one box with a line per check; the exit
// code counts the checks that failed. Run under Wine as Windows 95.
#include <windows.h>

#include <string>

#include "probe_checks.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ProbeChecks checks;
    checks.Expect(GetModuleHandleW(nullptr) == instance, "GetModuleHandleW(NULL) is the program");
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    checks.Expect(kernel != nullptr && GetModuleHandleW(L"KERNEL32.DLL") == kernel,
                  "GetModuleHandleW finds kernel32.dll");

    // The program does not import version.dll, so only the call can load it.
    const HMODULE version = LoadLibraryW(L"version.dll");
    checks.Expect(version != nullptr && GetProcAddress(version, "VerQueryValueA") != nullptr,
                  "LoadLibraryW loads version.dll");
    if (version != nullptr) FreeLibrary(version);

    // The name reaches the system in code page 932 (U+8868 is 0x95 0x5C) and
    // the counts in their places: one taken of at most two.
    const HANDLE made = CreateSemaphoreW(nullptr, 1, 2, L"morivane-probe-\u8868");
    const HANDLE found = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "morivane-probe-\x95\x5c");
    checks.Expect(made != nullptr && found != nullptr, "CreateSemaphoreW names in code page 932");
    LONG previous = -1;
    const bool released = found != nullptr && ReleaseSemaphore(found, 1, &previous);
    checks.Expect(released && previous == 1 && !ReleaseSemaphore(found, 1, nullptr),
                  "CreateSemaphoreW passes the initial and the maximum count");
    if (found != nullptr) CloseHandle(found);
    if (made != nullptr) CloseHandle(made);

    // Names without an exact ANSI form are refused, not altered: a character
    // code page 932 lacks (U+0E01), and a name longer than MAX_PATH bytes.
    SetLastError(0);
    const HANDLE foreign = CreateSemaphoreW(nullptr, 0, 1, L"morivane-probe-\u0e01");
    checks.Expect(foreign == nullptr && GetLastError() == ERROR_NO_UNICODE_TRANSLATION,
                  "a name code page 932 cannot hold is refused");
    if (foreign != nullptr) CloseHandle(foreign);
    const std::wstring longName(MAX_PATH, L'm');
    const HANDLE tooLong = CreateSemaphoreW(nullptr, 0, 1, longName.c_str());
    checks.Expect(tooLong == nullptr, "a name longer than MAX_PATH bytes is refused");
    if (tooLong != nullptr) CloseHandle(tooLong);

    return checks.Show("ANSI imports probe");
}
