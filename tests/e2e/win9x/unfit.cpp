// The negative control of the Windows 9x checks: a program that makes a
// Unicode call of its own, a call Windows 95/98/Me lack and one that is on no
// allow-list, and that holds code for processors later than the i486 (CMOVcc
// and FCOMI of the Pentium Pro, SSE2 of the Pentium 4). The import check and
// the instruction check must reject it for each.
#include <windows.h>

extern "C" {

// A selection and a floating-point comparison, which the Pentium Pro's
// instructions do without a branch.
__attribute__((target("arch=pentiumpro"), noinline)) int PentiumProSelect(int a, int b, double x,
                                                                           double y) {
    const int larger = a > b ? a : b;
    return x < y ? larger : -larger;
}

// Floating point in SSE2 registers.
__attribute__((target("arch=pentium4,fpmath=sse"), noinline)) double Pentium4Scale(double x) {
    return x * 3.5;
}

}  // extern "C"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command, int show) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(GetStdHandle(STD_INPUT_HANDLE), &size)) MessageBoxW(nullptr, L"", L"", MB_OK);
    return PentiumProSelect(show, command[0], Pentium4Scale(show), 1.0);
}
