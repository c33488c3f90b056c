// The updater's application object: it owns what start-up learns (the host
// probe and the two paths) and its start-up hook runs the start-up sequence
// with the Win32 front end: message boxes, window lookups and the modal
// update dialog.
#pragma once

#include "app/win32/application.h"
#include "update/startup.h"

namespace morivane {

// Start-up's boxes and dialog, the Win32 way.
class Win32Frontend final : public Frontend {
  public:
    // The update dialog holds `application`'s wait cursor during the run.
    explicit Win32Frontend(Application& application) : application_(application) {}

    // An error box: no owner, the system's default caption, OK and the
    // error icon.
    void ShowRefusal(int messageNumber) override;
    // Text 50 with caption "Morivane Update 1.0a", OK and Cancel and the
    // information icon; true for OK.
    bool Confirm() override;
    // FindWindowA with no class and the loaded text as the whole title.
    bool WindowExists(int titleMessage) override;
    // The update dialog, with no parent window, run modally and destroyed.
    void RunUpdateDialog(const UpdateRequest& request) override;

  private:
    Application& application_;
};

class UpdaterApp final : public Application, public StartupState {
  public:
    // `services` must outlive the application object.
    explicit UpdaterApp(const StartupServices& services);
    ~UpdaterApp() override;

    // The start-up sequence; returns false on every path, so the program
    // ends when it does.
    bool InitInstance() override;

  private:
    StartupServices services_;
    Win32Frontend frontend_;
};

}  // namespace morivane
