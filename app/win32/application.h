// The application framework the updater runs on, the Win32 part of it: the
// application object with its start-up hook and the wait-cursor count, and
// the module whose resources the program uses. WinMain hands its one
// application object to RunApplication.
#pragma once

#include <windows.h>

namespace morivane {

class Application {
  public:
    Application() = default;
    virtual ~Application() = default;

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The start-up hook. The updater's runs its whole life and returns
    // false, so the program ends when it returns: there is no message loop
    // besides those of the message boxes and the modal dialog.
    virtual bool InitInstance() = 0;

    // The wait-cursor count: the first Begin sets the wait (hourglass)
    // cursor, the End that brings the count back to zero restores the cursor
    // from before. An End without a Begin does nothing.
    void BeginWaitCursor();
    void EndWaitCursor();

  private:
    int waitCursorCount_ = 0;
    HCURSOR previousCursor_ = nullptr;
};

// The module whose resources the program uses (its own executable).
HINSTANCE ModuleInstance();

// What WinMain does: records the module and calls `app`'s InitInstance.
// Returns 0.
int RunApplication(HINSTANCE instance, Application& app);

}  // namespace morivane
