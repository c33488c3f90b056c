// The three Unicode kernel32 calls of the mingw-w64 static runtime, answered
// by their ANSI counterparts, so that the program imports no Unicode function.
//
// Who calls them: libgcc's Win32 thread support makes the semaphore of every
// runtime mutex with CreateSemaphoreW (the exception handling's locks are
// made during start-up). mingw-w64's msvcrt.dll stand-ins for rand_s and
// ___lc_codepage_func found msvcrt.dll and advapi32.dll with
// GetModuleHandleW and LoadLibraryW; the runtime built for crtdll.dll
// (scripts/win32-runtime) has neither, and the two stay answered here for any
// code that calls them. Windows 95, 98 and Me export most Unicode functions
// only as stubs that fail. The toolchain's other thread model (posix, through
// winpthreads) needs no CreateSemaphoreW but keeps the other two and imports
// calls Windows 95 lacks altogether (GetTickCount64, TryEnterCriticalSection,
// AddVectoredExceptionHandler).
//
// How: the runtime calls kernel32 through import pointers (__imp__Name@N),
// which the linker otherwise takes from kernel32's import library. Defining
// those pointers here, aimed at functions that convert the name and make the
// "A" call, leaves the linker nothing to import. Any code of the program that
// calls these three names reaches the same functions.
//
// This file is linked as an object file, never from an archive: the runtime's
// references come after all of the program's archives on the link line, too
// late for the linker to take a member out of one.
#include <windows.h>

namespace {

// A module or object name in the ANSI code page, as the "A" calls take it. A
// name that does not fit MAX_PATH bytes, or holds a character the code page
// lacks, has no ANSI form: converting it anyway would name something else.
class AnsiName {
  public:
    explicit AnsiName(LPCWSTR wide) {
        if (wide == nullptr) {
            valid_ = true;
            return;
        }
        BOOL lossy = FALSE;
        // Fails with ERROR_INSUFFICIENT_BUFFER when the name is too long.
        if (WideCharToMultiByte(CP_ACP, 0, wide, -1, text_, sizeof text_, nullptr, &lossy) == 0) {
            return;
        }
        if (lossy) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return;
        }
        valid_ = true;
        name_ = text_;
    }
    AnsiName(const AnsiName&) = delete;
    AnsiName& operator=(const AnsiName&) = delete;

    bool Valid() const { return valid_; }
    // Null when the wide name was null.
    LPCSTR Get() const { return name_; }

  private:
    char text_[MAX_PATH];
    LPCSTR name_ = nullptr;
    bool valid_ = false;
};

HMODULE WINAPI GetModuleHandleAnsi(LPCWSTR module) {
    const AnsiName name(module);
    return name.Valid() ? GetModuleHandleA(name.Get()) : nullptr;
}

HMODULE WINAPI LoadLibraryAnsi(LPCWSTR file) {
    const AnsiName name(file);
    return name.Valid() ? LoadLibraryA(name.Get()) : nullptr;
}

HANDLE WINAPI CreateSemaphoreAnsi(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                  LPCWSTR semaphore) {
    const AnsiName name(semaphore);
    return name.Valid() ? CreateSemaphoreA(attributes, initial, maximum, name.Get()) : nullptr;
}

}  // namespace

// The import pointers, under the names the i686 compiler gives kernel32's
// stdcall imports. Constant-initialised: the runtime calls through them
// before any constructor of the program has run.
extern "C" decltype(&GetModuleHandleW)
    const morivane_imp_GetModuleHandleW asm("__imp__GetModuleHandleW@4") = GetModuleHandleAnsi;
extern "C" decltype(&LoadLibraryW)
    const morivane_imp_LoadLibraryW asm("__imp__LoadLibraryW@4") = LoadLibraryAnsi;
extern "C" decltype(&CreateSemaphoreW)
    const morivane_imp_CreateSemaphoreW asm("__imp__CreateSemaphoreW@16") = CreateSemaphoreAnsi;
