#include "app/win32/update_dialog.h"

#include "app/win32/application.h"
#include "app/win32/catalogue_text.h"
#include "res/resource.h"
#include "seams/message_numbers.h"
#include "ui/icon_layout.h"

namespace morivane {

UpdateDialog::UpdateDialog(HWND parent, const UpdateRequest& request, Application& application)
    : Dialog(IDD_UPDATE_DIALOG, parent),
      icon(LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(IDI_UPDATER))),
      request_(request),
      application_(application) {}

BOOL UpdateDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    ShowStatus(IDS_CONFIRM_UPDATE);
    return TRUE;
}

void UpdateDialog::OnOK() {
    if (HandleUpdateOk(runFinished, request_.Context(), request_.bootPath,
                       request_.installDirectory, *this)) {
        Dialog::OnOK();
    }
}

void UpdateDialog::ShowStatus(int messageNumber) {
    HWND status = GetDlgItem(hwnd_, IDC_STATUS);
    SetWindowTextA(status, LoadCatalogueText(messageNumber).c_str());
    // The run holds the thread without pumping messages; paint the new text
    // now so that it is seen while the run goes on.
    UpdateWindow(status);
}

void UpdateDialog::HideCancel() {
    ShowWindow(GetDlgItem(hwnd_, IDCANCEL), SW_HIDE);
    UpdateWindow(hwnd_);
}

void UpdateDialog::BeginWaitCursor() {
    application_.BeginWaitCursor();
}

void UpdateDialog::EndWaitCursor() {
    application_.EndWaitCursor();
}

bool UpdateDialog::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    switch (message) {
        case WM_PAINT:
            if (!OnPaint()) return false;  // not minimised: the default painting
            result = TRUE;
            return true;
        case WM_QUERYDRAGICON:
            // Returned directly, not through DWLP_MSGRESULT.
            result = reinterpret_cast<INT_PTR>(icon);
            return true;
    }
    return false;
}

bool UpdateDialog::OnPaint() {
    if (!IsIconic(hwnd_)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(hwnd_, &client);
    const IconOrigin origin =
        CentredIconOrigin(client.right - client.left, client.bottom - client.top, cx, cy);
    DrawIcon(dc, origin.x, origin.y, icon);
    EndPaint(hwnd_, &paint);
    return true;
}

}  // namespace morivane
