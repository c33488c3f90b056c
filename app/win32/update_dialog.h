// The update dialog: a status text, OK and Cancel. OK runs the update once
// and, after that, closes the dialog; Cancel closes it without updating. Its
// caption is catalogue text 55, which is how a second copy of the program
// recognises that an updater is already running.
#pragma once

#include <windows.h>

#include "app/win32/application.h"
#include "app/win32/dialog.h"
#include "update/startup.h"
#include "update/update_run.h"

namespace morivane {

class UpdateDialog final : public Dialog, public UpdateView {
  public:
    // The dialog of template IDD_UPDATE_DIALOG owned by `parent` (start-up
    // passes none). Loads the icon. The run works on what `request` names,
    // its host probe the application's, and holds `application`'s wait
    // cursor; both must outlive the dialog.
    UpdateDialog(HWND parent, const UpdateRequest& request, Application& application);
    ~UpdateDialog() override = default;

    // UpdateView: the status control's text, the Cancel button, the
    // application's wait cursor.
    void ShowStatus(int messageNumber) override;
    void HideCancel() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

  protected:
    // Sets the big and small icons and shows status text 51.
    BOOL OnInitDialog() override;
    // The first OK runs the update; every later one ends the dialog with IDOK.
    void OnOK() override;
    // WM_PAINT (the icon, centred, while minimised) and WM_QUERYDRAGICON.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

  private:
    bool OnPaint();

    // Icon resource IDI_UPDATER; not released by the dialog.
    const HICON icon;
    // Set when the update run ends, however it ended; never cleared.
    bool runFinished = false;
    const UpdateRequest& request_;
    Application& application_;
};

}  // namespace morivane
