#include "app/win32/application.h"

namespace morivane {

namespace {
HINSTANCE moduleInstance = nullptr;
}  // namespace

void Application::BeginWaitCursor() {
    if (waitCursorCount_++ == 0) previousCursor_ = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

void Application::EndWaitCursor() {
    if (waitCursorCount_ == 0) return;
    if (--waitCursorCount_ == 0) SetCursor(previousCursor_);
}

HINSTANCE ModuleInstance() {
    return moduleInstance != nullptr ? moduleInstance : GetModuleHandleA(nullptr);
}

int RunApplication(HINSTANCE instance, Application& app) {
    moduleInstance = instance;
    app.InitInstance();
    return 0;
}

}  // namespace morivane
