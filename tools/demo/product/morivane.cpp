// The demo product's executable: one top-level window with the product's
// title, open until the user closes it. The updater looks for this window
// (catalogue text 54) to refuse updating a running product. Built for Win32
// with -fexec-charset=CP932, so the title is in code page 932 as on a
// Japanese system.
#include <windows.h>

namespace {

// Catalogue text 54, taken from the one list of texts.
#define MORIVANE_MESSAGE(number, identifier, text, english) (number) == 54 ? (text):
const char* const kTitle =
#include "ui/catalogue.def"
    "";
#undef MORIVANE_MESSAGE

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "MorivaneMainWindow";
    if (RegisterClassA(&windowClass) == 0) return 1;

    HWND window =
        CreateWindowExA(0, windowClass.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
