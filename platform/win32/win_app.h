// The Win32 side of the application framework: the program's module handle,
// its main window, and the entry point's work.
#pragma once

#include <windows.h>

namespace morivane {

class Dialog;

// The module whose resources the program uses (its own executable).
HINSTANCE ModuleInstance();

// The application's main window: the update dialog while it runs, else null.
Dialog*& MainWindow();

// What WinMain does: calls the application object's InitInstance; when that
// returns true, runs a message loop until WM_QUIT; then ExitInstance, whose
// result is returned. 1 when there is no application object.
int RunApplication(HINSTANCE instance);

}  // namespace morivane
