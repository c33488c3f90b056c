// Stand-in for the updater in the end-to-end harness: a small Win32 program
// whose boxes and dialog have the same shape as the updater's, so the harness
// and the driver can be proven before the updater exists.
//
// It shows, in this order:
//   1. an error box (MB_OK | MB_ICONERROR, no owner, no caption of its own);
//   2. a confirmation box (MB_OKCANCEL | MB_ICONINFORMATION); anything but OK
//      ends the program with exit code 3;
//   3. a modal dialog with its own icon (128) in the caption, a status text, an environment line
//   (Windows version
//      and platform, system language, ANSI code page, the error box's answer),
//      OK and Cancel. The first OK blocks for 1.5 s like an update run, then
//      shows a second status text and hides Cancel; the next OK ends the
//      dialog. Cancel, Esc or the close box end it at once.
// Exit code: the dialog's result (1 = IDOK, 2 = IDCANCEL).
//
// With "hang" on the command line, the first OK never returns, which stands
// for an updater that hangs. With "find TITLE" it only looks for a top-level
// window titled exactly TITLE (FindWindowA with no class, as the updater's
// guards do) and shows "found" or "missing" in a box captioned TITLE; exit
// code 0 or 1.
//
// Texts are byte strings in code page 932: this file is UTF-8 and is compiled
// with -fexec-charset=CP932. They include characters whose second byte is
// 0x5C ("表", "ソ") on purpose.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tests/e2e/standin/standin_ids.h"

namespace {

const char kErrorText[] = "ソフトの表示テストです。\nインストールは中止します。\n";
const char kConfirmText[] = "続けてもよろしいですか？\n";
const char kConfirmCaption[] = "Morivane Stand-in 1.0a";
const char kIdleStatus[] = "ＯＫで実行します。\nｷｬﾝｾﾙで終了します。\n";
const char kDoneStatus[] = "実行を終了しました。\n";

bool hangOnOk = false;
int errorBoxAnswer = 0;

struct DialogState {
    bool finished = false;
};

void ShowEnvironment(HWND dialog) {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) info = {};
    char line[160];
    std::snprintf(line, sizeof line, "Windows %lu.%lu platform %lu\nlang %04X acp %u box %d",
                  info.dwMajorVersion, info.dwMinorVersion, info.dwPlatformId,
                  static_cast<unsigned>(GetSystemDefaultLangID()), GetACP(), errorBoxAnswer);
    SetDlgItemTextA(dialog, IDC_ENVIRONMENT, line);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    static DialogState state;
    switch (msg) {
        case WM_INITDIALOG: {
            HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_STANDIN));
            SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
            SetDlgItemTextA(dialog, IDC_STATUS, kIdleStatus);
            ShowEnvironment(dialog);
            (void)lp;
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                if (state.finished) {
                    EndDialog(dialog, IDOK);
                    return TRUE;
                }
                // Stands for the update run: the thread is busy, no messages
                // are handled until it returns.
                do {
                    Sleep(1500);
                } while (hangOnOk);
                SetDlgItemTextA(dialog, IDC_STATUS, kDoneStatus);
                ShowWindow(GetDlgItem(dialog, IDCANCEL), SW_HIDE);
                state.finished = true;
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (std::strncmp(commandLine, "find ", 5) == 0) {
        const char* title = commandLine + 5;
        const bool found = FindWindowA(nullptr, title) != nullptr;
        MessageBoxA(nullptr, found ? "found" : "missing", title, MB_OK);
        return found ? 0 : 1;
    }
    hangOnOk = std::strstr(commandLine, "hang") != nullptr;
    errorBoxAnswer = MessageBoxA(nullptr, kErrorText, nullptr, MB_OK | MB_ICONERROR);
    if (MessageBoxA(nullptr, kConfirmText, kConfirmCaption, MB_OKCANCEL | MB_ICONINFORMATION) !=
        IDOK)
        return 3;
    return static_cast<int>(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_STANDIN), nullptr, DialogProc, 0));
}
