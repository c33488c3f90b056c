// Checks the pieces that the i486 runtime adds for crtdll.dll and the
// Windows 95 kernel32 (scripts/win32-runtime.d/): the lead-byte test that
// stands in for IsDBCSLeadByteEx, rand_s, and the old names close and read;
// and that a C++ exception unwinds, which needs the rebuilt libgcc and the
// exception tables where the link put them (in .rdata, not the code).
// Shows one box with a line per check; the exit code counts the checks that
// failed. Run under Wine as Windows 95.
#define _CRT_RAND_S
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include <stdexcept>
#include <string>

#include "probe_checks.h"

// The runtime's lead-byte test, through the import pointer its own objects
// use. This program links the runtime's crtdll.dll library ahead of
// kernel32's (CMakeLists.txt), so the pointer is the runtime's.
extern "C" BOOL(WINAPI* const runtimeLeadByte)(UINT, BYTE) __asm__("__imp__IsDBCSLeadByteEx@8");

namespace {

using LeadByteTest = BOOL(WINAPI*)(UINT, BYTE);

// Whether the runtime's test answers as `system` does for every byte of
// `codePage`; counts the lead bytes it finds.
bool SameLeadBytes(LeadByteTest system, UINT codePage, int* leadBytes) {
    bool same = true;
    *leadBytes = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const bool ours = runtimeLeadByte(codePage, static_cast<BYTE>(byte)) != FALSE;
        same = same && ours == (system(codePage, static_cast<BYTE>(byte)) != FALSE);
        *leadBytes += ours ? 1 : 0;
    }
    return same;
}

// Counts its destruction: the cleanup that unwinding must run.
struct Unwound {
    int* count;
    ~Unwound() { ++*count; }
};

[[gnu::noinline]] void ThrowThrough(int* unwound) {
    Unwound cleanup{unwound};
    throw std::runtime_error("probe");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ProbeChecks checks;

    // The oracle is the system's own IsDBCSLeadByteEx, looked up by name.
    const auto system = reinterpret_cast<LeadByteTest>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsDBCSLeadByteEx")));
    checks.Expect(system != nullptr && system != runtimeLeadByte,
                  "the runtime's lead-byte test is its own");
    if (system != nullptr) {
        int leadBytes = 0;
        // Code page 932: 0x81-0x9F and 0xE0-0xFC.
        checks.Expect(SameLeadBytes(system, 932, &leadBytes) && leadBytes == 60,
                      "lead bytes of code page 932 as the system's");
        checks.Expect(SameLeadBytes(system, CP_ACP, &leadBytes) && leadBytes == 60,
                      "lead bytes of the ANSI code page (932) as the system's");
        checks.Expect(SameLeadBytes(system, 1252, &leadBytes) && leadBytes == 0,
                      "no lead bytes in code page 1252");
    }

    // Wine's advapi32 has RtlGenRandom, so rand_s gives numbers here; eight
    // equal draws would be a constant.
    unsigned int draws[8] = {};
    bool drawn = true;
    bool varied = false;
    for (unsigned int& draw : draws) {
        drawn = drawn && rand_s(&draw) == 0;
        varied = varied || draw != draws[0];
    }
    checks.Expect(drawn && varied, "rand_s draws random numbers");
    checks.Expect(rand_s(nullptr) == EINVAL, "rand_s refuses a null pointer");

    // read and close reach crtdll.dll's _read and _close: the program reads
    // the first bytes of its own file.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const int file = _open(path, _O_RDONLY | _O_BINARY);
    char head[2] = {};
    checks.Expect(file >= 0 && read(file, head, sizeof head) == 2 && head[0] == 'M' &&
                      head[1] == 'Z',
                  "read reads the program's own first bytes");
    checks.Expect(file >= 0 && close(file) == 0 && close(file) == -1,
                  "close closes it once");

    int unwound = 0;
    std::string caught;
    try {
        ThrowThrough(&unwound);
    } catch (const std::runtime_error& e) {
        caught = e.what();
    }
    checks.Expect(caught == "probe" && unwound == 1,
                  "an exception is caught, the cleanup on its way run once");

    return checks.Show("Runtime probe");
}
