/* What the runtime's objects need that crtdll.dll and the kernel32.dll of
 * Windows 95 do not provide. scripts/win32-runtime compiles this file into the
 * runtime's libmsvcrt.a (the import library of crtdll.dll), where the
 * runtime's own references find it before kernel32's import library.
 *
 * Both definitions are import pointers (__imp__Name), the form in which the
 * runtime refers to these functions.
 */
#include <windows.h>
#include <errno.h>

/* rand_s: later systems' msvcrt.dll export it; crtdll.dll does not.
 * libstdc++'s std::random_device reads it. The bytes come from advapi32's
 * RtlGenRandom (exported as SystemFunction036 by Windows XP and later);
 * where advapi32 has no such export, as on Windows 95, 98 and Me, rand_s fails
 * with EINVAL, which random_device reports by throwing. */
typedef BOOLEAN(WINAPI *GenerateRandom)(PVOID buffer, ULONG length);

static int __cdecl crtdll_rand_s(unsigned int *value)
{
    static GenerateRandom generate;
    static int looked_up;
    if (!looked_up) {
        /* Loaded once and kept for the life of the process. */
        HMODULE advapi = LoadLibraryA("advapi32.dll");
        if (advapi != NULL) {
            generate = (GenerateRandom)(void (*)(void))GetProcAddress(advapi, "SystemFunction036");
        }
        looked_up = 1;
    }
    if (value == NULL || generate == NULL || !generate(value, sizeof *value)) {
        return EINVAL;
    }
    return 0;
}

int(__cdecl *const crtdll_imp_rand_s)(unsigned int *) __asm__("__imp__rand_s") = crtdll_rand_s;

/* IsDBCSLeadByteEx: mingw-w64's mbrtowc asks it whether a byte begins a
 * double-byte character. The Windows 95 documentation names only
 * IsDBCSLeadByte (for the ANSI code page) and GetCPInfo, so the answer is
 * taken from the lead-byte ranges GetCPInfo gives for the code page. A code
 * page GetCPInfo does not know has no lead bytes, as IsDBCSLeadByteEx
 * answers for it. */
static BOOL WINAPI crtdll_is_lead_byte(UINT code_page, BYTE byte)
{
    CPINFO info;
    if (!GetCPInfo(code_page, &info)) {
        return FALSE;
    }
    /* Inclusive ranges, as pairs of bytes, ended by a pair of zeros. */
    for (int i = 0; i + 1 < MAX_LEADBYTES && (info.LeadByte[i] | info.LeadByte[i + 1]) != 0;
         i += 2) {
        if (byte >= info.LeadByte[i] && byte <= info.LeadByte[i + 1]) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL(WINAPI *const crtdll_imp_IsDBCSLeadByteEx)(UINT, BYTE) __asm__("__imp__IsDBCSLeadByteEx@8") =
    crtdll_is_lead_byte;
