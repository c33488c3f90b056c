// The program's entry point and its one set of objects: the Win32 services,
// the file system, the payloads in the module, and the application object
// whose InitInstance is the whole start-up sequence.
#include <windows.h>

#include "app/win32/updater_app.h"
#include "platform/win32/resource_payload_store.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_host.h"

namespace morivane {
namespace {

// Defined in this order in one file, so they are constructed in this order.
Win32Host theHost;
Win32FileSystem theFiles;
ResourcePayloadStore thePayloads(GetModuleHandleA(nullptr));
UpdaterApp theApp(StartupServices{theHost, theHost, theHost, theFiles, thePayloads});

}  // namespace
}  // namespace morivane

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return morivane::RunApplication(instance, morivane::theApp);
}
