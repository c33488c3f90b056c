#include "app/win32/dialog.h"

#include "app/win32/application.h"

namespace morivane {

Dialog::Dialog(int templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR Dialog::DoModal() {
    const INT_PTR result =
        DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId_), parent_,
                        &Dialog::DialogProcedure, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result;
}

BOOL Dialog::OnInitDialog() {
    return TRUE;
}

void Dialog::OnOK() {
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) {
    return false;
}

void Dialog::EndDialog(int result) {
    ::EndDialog(hwnd_, result);
}

INT_PTR CALLBACK Dialog::DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) find no object.
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;

    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
            case IDOK:
                self->OnOK();
                return TRUE;
            case IDCANCEL:
                self->OnCancel();
                return TRUE;
        }
    }
    INT_PTR result = 0;
    if (self->OnMessage(message, wParam, lParam, result)) return result;
    return FALSE;
}

}  // namespace morivane
