// A program that does nothing: the installed executable of the scenarios
// whose version resource the updater must refuse. Each build of it carries
// another version resource (see CMakeLists.txt).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
