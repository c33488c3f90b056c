// The application object: one per process, reachable from anywhere, with a
// start-up hook and the wait-cursor count. The platform's entry point finds
// it through Application::Current() and calls InitInstance; when that returns
// false the program ends straight away.
#pragma once

#include <cstdint>

#include "update/system_api.h"

namespace morivane {

class Application {
  public:
    // Registers this object as the process's application; there is at most
    // one at a time. `desktop` (for the cursor) must outlive the object.
    explicit Application(Desktop& desktop);
    virtual ~Application();

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The application object, or null when none exists.
    static Application* Current();

    // The start-up hook. True would keep the program running in a message
    // loop; false ends it once the hook returns.
    virtual bool InitInstance() = 0;
    // Runs as the program ends; its result is the process exit status.
    virtual int ExitInstance() { return 0; }

    // The wait-cursor count: the first Begin sets the wait cursor, the End
    // that brings the count back to zero restores the cursor from before. An
    // End without a Begin does nothing.
    void BeginWaitCursor();
    void EndWaitCursor();
    int waitCursorCount() const { return waitCursorCount_; }

  private:
    Desktop& desktop_;
    int waitCursorCount_ = 0;
    std::uintptr_t previousCursor_ = 0;
};

}  // namespace morivane
