#include "app/win32/application.h"

namespace morivane {

namespace {
Application* currentApplication = nullptr;
HINSTANCE moduleInstance = nullptr;
}  // namespace

Application::Application() {
    currentApplication = this;
}

Application::~Application() {
    if (currentApplication == this) currentApplication = nullptr;
}

Application* Application::Current() {
    return currentApplication;
}

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

int RunApplication(HINSTANCE instance) {
    moduleInstance = instance;
    Application* app = Application::Current();
    if (app == nullptr) return 1;
    app->InitInstance();
    return 0;
}

}  // namespace morivane
