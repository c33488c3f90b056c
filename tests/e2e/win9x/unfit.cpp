// The negative control of the Windows 9x import check: a program that makes
// a Unicode call of its own and a call Windows 95/98/Me lack. The check must
// reject it for both.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(GetStdHandle(STD_INPUT_HANDLE), &size)) MessageBoxW(nullptr, L"", L"", MB_OK);
    return 0;
}
