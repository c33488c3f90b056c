// The update dialog: a status text, OK and Cancel. OK runs the update once
// and, after that, closes the dialog; Cancel closes it without updating. Its
// caption is catalogue text 55, which is how a second copy of the program
// recognises that an updater is already running.
#pragma once

#include <windows.h>

#include "app/win32/dialog.h"
#include "update/startup.h"
#include "update/update_run.h"

namespace morivane {

class UpdateDialog final : public Dialog, public UpdateView {
  public:
    // The dialog of template IDD_UPDATE_DIALOG owned by `parent` (start-up
    // passes none). Loads the icon; the run works on what `request` names,
    // which must outlive the dialog. hostEnvironment is the application's.
    UpdateDialog(HWND parent, const UpdateRequest& request);
    ~UpdateDialog() override = default;

    // UpdateView: the status control's text, the Cancel button, the
    // application's wait cursor.
    void ShowStatus(int messageNumber) override;
    void HideCancel() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    // Icon resource IDI_UPDATER; not released by the dialog.
    HICON icon;
    // Set when the update run ends, however it ended; never cleared.
    bool runFinished;
    // The application's host probe; not owned.
    HostEnvironment* hostEnvironment;

  protected:
    // Sets the big and small icons and shows status text 51.
    BOOL OnInitDialog() override;
    // The first OK runs the update; every later one ends the dialog with IDOK.
    void OnOK() override;
    // WM_PAINT (the icon, centred, while minimised) and WM_QUERYDRAGICON.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

  private:
    bool OnPaint();

    const UpdateRequest& request_;
};

}  // namespace morivane
