// The program's entry point and its one set of objects: the Win32 services,
// the file system, the payloads in the module, and the application object
// whose InitInstance is the whole start-up sequence.
#include <windows.h>

#include "platform/win32/resource_payload_store.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win_app.h"
#include "ui/update_dialog.h"
#include "update/updater_app.h"

namespace morivane {
namespace {

class Win32DialogRunner final : public UpdateDialogRunner {
  public:
    Win32DialogRunner(FileSystem& files, PayloadStore& payloads)
        : files_(files), payloads_(payloads) {}

    void RunUpdateDialog() override {
        UpdateDialog dialog(nullptr, files_, payloads_);
        MainWindow() = &dialog;
        dialog.DoModal();  // IDOK or IDCANCEL; start-up ends either way
        MainWindow() = nullptr;
    }

  private:
    FileSystem& files_;
    PayloadStore& payloads_;
};

// Defined in this order in one file, so they are constructed in this order.
Win32System theSystem(GetModuleHandleA(nullptr));
Win32FileSystem theFiles;
ResourcePayloadStore thePayloads(GetModuleHandleA(nullptr));
Win32DialogRunner theDialogRunner(theFiles, thePayloads);
UpdaterApp theApp(StartupServices{theSystem, theSystem, theSystem, theSystem, theDialogRunner,
                                  &theFiles});

}  // namespace
}  // namespace morivane

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return morivane::RunApplication(instance);
}
