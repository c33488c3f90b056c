#include "app/win32/updater_app.h"

#include <windows.h>

#include "app/win32/catalogue_text.h"
#include "app/win32/update_dialog.h"
#include "seams/message_numbers.h"
#include "update/product.h"

namespace morivane {

void Win32Frontend::ShowRefusal(int messageNumber) {
    MessageBoxA(nullptr, LoadCatalogueText(messageNumber).c_str(), nullptr, MB_OK | MB_ICONERROR);
}

bool Win32Frontend::Confirm() {
    return MessageBoxA(nullptr, LoadCatalogueText(IDS_CLOSE_PROGRAMS).c_str(), kConfirmationCaption,
                       MB_OKCANCEL | MB_ICONINFORMATION) == IDOK;
}

bool Win32Frontend::WindowExists(int titleMessage) {
    return FindWindowA(nullptr, LoadCatalogueText(titleMessage).c_str()) != nullptr;
}

void Win32Frontend::RunUpdateDialog(const UpdateRequest& request) {
    UpdateDialog dialog(nullptr, request, application_);
    dialog.DoModal();  // IDOK or IDCANCEL; start-up ends either way
}

UpdaterApp::UpdaterApp(const StartupServices& services) : services_(services), frontend_(*this) {}

UpdaterApp::~UpdaterApp() {
    hostEnvironment.reset();
}

bool UpdaterApp::InitInstance() {
    RunStartup(services_, frontend_, *this);
    return false;
}

}  // namespace morivane
