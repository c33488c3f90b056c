#include "platform/win32/win_app.h"

#include "update/application.h"

namespace morivane {

namespace {
HINSTANCE moduleInstance = nullptr;
}  // namespace

HINSTANCE ModuleInstance() {
    return moduleInstance != nullptr ? moduleInstance : GetModuleHandleA(nullptr);
}

Dialog*& MainWindow() {
    static Dialog* mainWindow = nullptr;
    return mainWindow;
}

int RunApplication(HINSTANCE instance) {
    moduleInstance = instance;
    Application* app = Application::Current();
    if (app == nullptr) return 1;
    if (app->InitInstance()) {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return app->ExitInstance();
}

}  // namespace morivane
