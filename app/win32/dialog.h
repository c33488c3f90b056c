// A modal dialog over a dialog template resource: the smallest piece of an
// application framework the updater needs. DoModal runs the dialog manager's
// modal loop; the OK and Cancel commands (the buttons, Enter, Esc, the close
// box) reach OnOK and OnCancel; other messages reach OnMessage.
#pragma once

#include <windows.h>

namespace morivane {

class Dialog {
  public:
    // A dialog of template `templateId` in the program's module, owned by
    // `parent` (null for none). Nothing is created until DoModal.
    Dialog(int templateId, HWND parent);
    virtual ~Dialog() = default;

    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the dialog and runs its modal loop until EndDialog is called;
    // returns the value given to EndDialog (IDOK, IDCANCEL), or -1 when the
    // dialog could not be created.
    INT_PTR DoModal();

  protected:
    // After the controls exist; returns TRUE, so the dialog manager sets the
    // initial focus.
    virtual BOOL OnInitDialog();
    // The OK command: ends the dialog with IDOK.
    virtual void OnOK();
    // The Cancel command: ends the dialog with IDCANCEL.
    virtual void OnCancel();
    // Any other message. Returns true when handled, with the value the dialog
    // procedure returns in `result`; false leaves it to the dialog manager's
    // default handling.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    // Ends the modal loop with `result`.
    void EndDialog(int result);

    HWND hwnd_ = nullptr;

  private:
    static INT_PTR CALLBACK DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    HWND parent_;
};

}  // namespace morivane
