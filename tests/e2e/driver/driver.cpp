// End-to-end test driver. It runs in the same Wine prefix as the program
// under test, starts it, waits for its message boxes and dialogs, reads them,
// presses their buttons and keys, and writes a transcript of what it saw.
//
//   morivane-e2e-driver SCRIPT TRANSCRIPT [SHOTDIR]
//
// SCRIPT and TRANSCRIPT are code page 932 text (see script.h). Exit status:
// 0 when every step passed, 1 when a step failed (the transcript ends with an
// "error" line), 2 for bad arguments or an unreadable script.
//
// Steps (LABEL names a started process; where it is optional, waits for
// windows mean "any started process" and the others mean "the last started"):
//   timeout MS              time limit of each later step (default 20000)
//   start LABEL PATH [ARG]  start a program; its folder is its current folder;
//                           the ARG words go on its command line as they are,
//                           separated by one blank
//   wait-box [LABEL]        wait for a new message box; it becomes current
//   wait-dialog [LABEL]     wait for a new dialog ("#32770", not a message box)
//   wait-window [LABEL]     wait for any new top-level window
//   select TITLE            make the visible top-level window of a started
//                           process whose title is exactly TITLE current again
//   read [full]             settle the current window, write it, screenshot it
//   shot NAME               screenshot the current window as NN-NAME.png
//   press BUTTON [async]    click a visible, enabled button: OK Cancel Abort
//                           Retry Ignore Yes No, or a control id; the step
//                           ends when the program has handled the click, or
//                           at once with "async"
//   key Enter|Esc|Tab|Space press a key while the current window is in front;
//                           the program handles it later, through its input
//                           queue, so a step that waits for its effect must
//                           follow (wait-gone, wait-file)
//   close                   use the current window's close box (handled
//                           later too)
//   wait-gone               wait until the current window is destroyed
//   wait-exit [LABEL]       wait until the process ends; any window it shows
//                           meanwhile fails the step
//   exit-code [LABEL]       write the exit code of an ended process
//   caption-icon NAME       tell whether the current window's caption shows a
//                           standard icon: error question warning information
//                           application ("missing" only once the step's time
//                           limit has passed without it)
//   caption-icon FILE ID    ... or icon resource ID of the module FILE
//   make-window TITLE       show a top-level window of the driver's own with
//                           that title (stands for another running program)
//   cover MS                lay a blank window of the driver's own over the
//                           current window, above all others, for MS
//                           milliseconds (another program's window in the
//                           way); the step ends once the screen shows it
//   overlap                 lay a plain window of the driver's own over the
//                           current window and leave it there, while the
//                           current window keeps the foreground (another
//                           program's window raised late); the step ends once
//                           the screen shows it
//   hold PATH none|read     open the file PATH for reading and keep it open
//                           until "release PATH" or the driver's end; the
//                           second word is what it lets others do at the same
//                           time: nothing, or read (but not write or delete)
//   release PATH            close a file that "hold" opened
//   wait-file PATH          wait until the file PATH exists (a sign from the
//                           shell harness)
//   write-file PATH         make the empty file PATH (a sign to the harness)
//   watch                   start watching the current window: every
//                           millisecond the text and the visibility of each of
//                           its controls are noted, without sending it a
//                           message, so the changes made while it is busy show
//   note                    note the watched window's present state now (for
//                           a state that the harness holds the program in,
//                           so that it is noted for certain)
//   watched                 stop watching and write, for each control, the
//                           values it went through (repeats folded into one),
//                           its last state noted for certain
//   sleep MS                wait, still answering messages
//
// Transcript: each step is echoed as "> words", followed by what it observed.
// A window read-out starts with "box", "dialog" or "window" and the label,
// then indented lines. Screenshots are requested from the shell harness:
// the driver writes SHOTDIR\NN-NAME.req holding "x y width height" (desktop
// pixels) and waits for SHOTDIR\NN-NAME.done; the harness saves NN-NAME.png.
// When a step fails, the whole desktop is saved as NN-failure.png.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/driver/script.h"

namespace morivane::e2e {
namespace {

constexpr DWORD kDefaultTimeoutMs = 20000;
constexpr DWORD kPollMs = 50;
// A window counts as settled once it answers messages and nothing readable
// about it has changed for this long.
constexpr DWORD kSettleMs = 300;
constexpr DWORD kShotTimeoutMs = 15000;
constexpr int kMessageTextId = 0xFFFF;  // static that holds a message box's text
constexpr char kOwnWindowClass[] = "MorivaneE2EWindow";

// Runs the driver's own message queue for `ms` milliseconds, so that windows
// made with make-window stay responsive while the driver waits.
void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

std::string Number(unsigned long value) {
    return std::to_string(value);
}

std::string Hex32(unsigned long value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", value);
    return buf;
}

// The window's text as the system's ANSI (code page 932) bytes. For a window
// of another process GetWindowTextA reads the text the system keeps for it and
// sends no message, so it works even while that process is busy.
std::string WindowText(HWND hwnd) {
    std::vector<char> buf(8192);
    const int n = GetWindowTextA(hwnd, buf.data(), static_cast<int>(buf.size()));
    return std::string(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ClassName(HWND hwnd) {
    char buf[256];
    const int n = GetClassNameA(hwnd, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
}

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> out;
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&out));
    return out;
}

bool IsMessageBox(HWND hwnd) {
    if (ClassName(hwnd) != "#32770") return false;
    HWND text = GetDlgItem(hwnd, kMessageTextId);
    return text && ClassName(text) == "Static";
}

const char* KindOf(HWND hwnd) {
    if (IsMessageBox(hwnd)) return "box";
    if (ClassName(hwnd) == "#32770") return "dialog";
    return "window";
}

// Sends a message with a time limit; returns false when the window did not
// answer in time or is gone.
bool Ask(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD ms, DWORD_PTR* result) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_NORMAL, ms, &r)) return false;
    if (result) *result = r;
    return true;
}

// A 32-bit top-down DIB section with a memory DC selected into it; pixels
// read as 0x00RRGGBB.
class Canvas {
  public:
    Canvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<DWORD*>(bits);
        dc_ = CreateCompatibleDC(nullptr);
        if (dc_ && bitmap_) old_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        if (dc_) {
            if (old_) SelectObject(dc_, old_);
            DeleteDC(dc_);
        }
        if (bitmap_) DeleteObject(bitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool ok() const { return dc_ && bitmap_ && bits_; }
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    DWORD pixel(int x, int y) const { return bits_[y * width_ + x] & 0xFFFFFF; }
    void Fill(DWORD colour) {
        for (int i = 0; i < width_ * height_; ++i) bits_[i] = colour;
    }

  private:
    int width_, height_;
    HBITMAP bitmap_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
    DWORD* bits_ = nullptr;
};

bool CloseColour(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d > 8 || d < -8) return false;
    }
    return true;
}

// A copy of the screen's pixels in `r` (desktop coordinates). The windows of
// the program under test belong to another process, and Wine lets no process
// use another's icon handles or device contexts (DrawIconEx on such an icon
// fails with ERROR_INVALID_CURSOR_HANDLE, WM_PRINTCLIENT is not passed on), so
// what those windows show can only be read back from the screen.
bool CaptureScreen(const RECT& r, Canvas* into) {
    HDC screen = GetDC(nullptr);
    const bool ok = into->ok() && BitBlt(into->dc(), 0, 0, r.right - r.left, r.bottom - r.top,
                                         screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    GdiFlush();
    return ok;
}

// An icon drawn here on a black and on a white ground. A pixel that comes out
// the same on both is opaque; the icon is found in a screen copy where almost
// all of its opaque pixels equal the screen's.
class IconProbe {
  public:
    IconProbe(HICON icon, int cx, int cy) : black_(cx, cy), white_(cx, cy), cx_(cx), cy_(cy) {
        if (!icon || !black_.ok() || !white_.ok()) return;
        black_.Fill(0x000000);
        white_.Fill(0xFFFFFF);
        ok_ = DrawIconEx(black_.dc(), 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL) &&
              DrawIconEx(white_.dc(), 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
        GdiFlush();
    }

    // True when the icon shows in `shot` with its top-left corner at (ox, oy).
    bool MatchesAt(const Canvas& shot, int ox, int oy) const {
        if (!ok_ || ox < 0 || oy < 0 || ox + cx_ > shot.width() || oy + cy_ > shot.height())
            return false;
        int opaque = 0, differ = 0;
        for (int y = 0; y < cy_; ++y) {
            for (int x = 0; x < cx_; ++x) {
                if (black_.pixel(x, y) != white_.pixel(x, y)) continue;
                ++opaque;
                if (!CloseColour(black_.pixel(x, y), shot.pixel(ox + x, oy + y))) ++differ;
            }
        }
        return opaque > cx_ * cy_ / 8 && differ * 50 <= opaque;
    }

    // True when the icon shows anywhere in `shot`.
    bool FoundIn(const Canvas& shot) const {
        for (int oy = 0; oy + cy_ <= shot.height(); ++oy) {
            for (int ox = 0; ox + cx_ <= shot.width(); ++ox) {
                if (MatchesAt(shot, ox, oy)) return true;
            }
        }
        return false;
    }

  private:
    Canvas black_, white_;
    int cx_, cy_;
    bool ok_ = false;
};

struct StandardIcon {
    const char* name;
    LPCSTR id;
};
const StandardIcon kStandardIcons[] = {{"error", IDI_HAND},
                                       {"question", IDI_QUESTION},
                                       {"warning", IDI_EXCLAMATION},
                                       {"information", IDI_ASTERISK},
                                       {"application", IDI_APPLICATION}};

// Notes, on a thread of its own, the values that the controls of one window
// go through. GetWindowTextA and GetWindowLongA read what the system keeps for
// a window of another process and send that process nothing, so a program
// that holds its only thread in a long operation is still seen changing.
class Watcher {
  public:
    explicit Watcher(HWND window) : window_(window), start_(GetTickCount()) {
        InitializeCriticalSection(&lock_);
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        primed_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (stop_ && primed_)
            thread_ = CreateThread(nullptr, 0, &Watcher::ThreadMain, this, 0, nullptr);
        // The watch counts as begun once the window's present state is noted.
        if (thread_) WaitForSingleObject(primed_, 5000);
    }
    ~Watcher() {
        Stop();
        if (stop_) CloseHandle(stop_);
        if (primed_) CloseHandle(primed_);
        DeleteCriticalSection(&lock_);
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    bool running() const { return thread_ != nullptr; }

    // Notes the window's present state now, from the caller's thread: what
    // the window shows at this moment is in the notes for certain, whatever
    // the watching thread has managed to see.
    void Note() {
        EnterCriticalSection(&lock_);
        PollOnce();
        LeaveCriticalSection(&lock_);
    }

    // Ends the watch, with the window's last state noted; afterwards the
    // notes may be read.
    void Stop() {
        if (!thread_) return;
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        PollOnce();
    }

    // One line per control, in the order the controls were first seen, with
    // its visibilities and then its texts, each run of repeats as one value:
    // control 2 visible, hidden text "A", "B".
    std::string Report() const {
        std::string out;
        for (const auto& c : controls_) {
            out += "\n  control " + std::to_string(c.id);
            for (size_t i = 0; i < c.shown.size(); ++i)
                out += std::string(i ? ", " : " ") + (c.shown[i] ? "visible" : "hidden");
            out += " text";
            for (size_t i = 0; i < c.texts.size(); ++i)
                out += std::string(i ? ", " : " ") + QuoteText(c.texts[i]);
        }
        return out;
    }

    // The screen pictures taken at each new state, oldest first.
    const std::vector<std::unique_ptr<Canvas>>& captures() const { return captures_; }

    // Milliseconds from the start of the watch to the last change seen.
    DWORD lastChangeMs() const { return lastChangeMs_; }

  private:
    struct Control {
        int id;
        std::vector<bool> shown;
        std::vector<std::string> texts;
    };

    static DWORD WINAPI ThreadMain(LPVOID self) {
        static_cast<Watcher*>(self)->Loop();
        return 0;
    }

    void Loop() {
        do {
            EnterCriticalSection(&lock_);
            const bool alive = PollOnce();
            LeaveCriticalSection(&lock_);
            SetEvent(primed_);
            if (!alive) break;
        } while (WaitForSingleObject(stop_, 1) == WAIT_TIMEOUT);
        SetEvent(primed_);
    }

    // Notes each control's visibility and text where they differ from the
    // last ones noted. False when the window is gone.
    bool PollOnce() {
        if (!IsWindow(window_)) return false;
        bool anyChange = false;
        for (HWND c = GetWindow(window_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            const int id = GetDlgCtrlID(c);
            Control* control = nullptr;
            for (auto& known : controls_) {
                if (known.id == id) control = &known;
            }
            if (!control) {
                controls_.push_back({id, {}, {}});
                control = &controls_.back();
            }
            const bool shown = (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) != 0;
            char buf[4096];
            const int n = GetWindowTextA(c, buf, sizeof buf);
            const std::string text(buf, n > 0 ? static_cast<size_t>(n) : 0);
            bool changed = false;
            if (control->shown.empty() || control->shown.back() != shown) {
                control->shown.push_back(shown);
                changed = true;
            }
            if (control->texts.empty() || control->texts.back() != text) {
                control->texts.push_back(text);
                changed = true;
            }
            if (changed) lastChangeMs_ = GetTickCount() - start_;
            if (changed) anyChange = true;
        }
        // The window as the screen shows it at each new state, taken at once:
        // a program busy in one operation changes state faster than the
        // harness can take screenshots.
        if (anyChange && captures_.size() < kMaxCaptures) {
            RECT r;
            if (GetWindowRect(window_, &r) && r.right > r.left && r.bottom > r.top) {
                auto shot = std::make_unique<Canvas>(r.right - r.left, r.bottom - r.top);
                if (CaptureScreen(r, shot.get())) captures_.push_back(std::move(shot));
            }
        }
        return true;
    }

    static constexpr size_t kMaxCaptures = 16;

    HWND window_;
    DWORD start_;
    CRITICAL_SECTION lock_;
    std::vector<std::unique_ptr<Canvas>> captures_;
    HANDLE stop_ = nullptr;
    HANDLE primed_ = nullptr;
    HANDLE thread_ = nullptr;
    std::vector<Control> controls_;
    DWORD lastChangeMs_ = 0;
};

struct Process {
    std::string label;
    HANDLE handle = nullptr;
    DWORD pid = 0;
};

// Re-renders a step for the transcript: bare words stay bare, others quoted.
std::string EchoStep(const Step& step) {
    std::string out = ">";
    for (const auto& word : step.words) {
        bool bare = !word.empty() && word[0] != '#';
        for (unsigned char c : word) {
            if (c <= ' ' || c == '"' || c == 0x7F) bare = false;
        }
        out += ' ';
        out += bare ? word : QuoteText(word);
    }
    return out;
}

// A cover (see Driver::Cover) goes back on top of all windows at every tick
// of one timer, and goes away when the other fires.
constexpr UINT_PTR kCoverEndTimer = 1;
constexpr UINT_PTR kCoverTopTimer = 2;

LRESULT CALLBACK OwnWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_TIMER && wp == kCoverTopTimer) {
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return 0;
    }
    if (msg == WM_TIMER && wp == kCoverEndTimer) {
        KillTimer(hwnd, kCoverEndTimer);
        KillTimer(hwnd, kCoverTopTimer);
        DestroyWindow(hwnd);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

class Driver {
  public:
    Driver(FILE* transcript, std::string shotDir)
        : transcript_(transcript), shotDir_(std::move(shotDir)) {}
    ~Driver() {
        for (auto& p : procs_) CloseHandle(p.handle);
        for (auto& h : held_) CloseHandle(h.second);
        for (HWND w : ownWindows_) DestroyWindow(w);
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // Runs all steps; returns the process exit status.
    int Run(const std::vector<Step>& steps) {
        int status = 0;
        for (const auto& step : steps) {
            Write(EchoStep(step));
            std::fprintf(stderr, "driver: line %d: %s\n", step.line, step.words[0].c_str());
            const std::string error = Execute(step);
            if (!error.empty()) {
                Write("error line " + Number(step.line) + ": " + error);
                std::fprintf(stderr, "driver: line %d failed: %s\n", step.line, error.c_str());
                // What the desktop showed when the step failed, for the log.
                const RECT desktop = {0, 0, GetSystemMetrics(SM_CXSCREEN),
                                      GetSystemMetrics(SM_CYSCREEN)};
                ScreenshotRect(desktop, "failure");
                status = 1;
                break;
            }
        }
        for (auto& p : procs_) {
            if (WaitForSingleObject(p.handle, 0) == WAIT_TIMEOUT) {
                TerminateProcess(p.handle, 255);
                WaitForSingleObject(p.handle, 5000);
                Write("killed " + p.label);
                status = 1;
            }
        }
        return status;
    }

  private:
    void Write(const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), transcript_);
        std::fputc('\n', transcript_);
        std::fflush(transcript_);
    }

    std::string Execute(const Step& step) {
        const auto& w = step.words;
        const std::string& verb = w[0];
        const size_t argc = w.size() - 1;
        auto arg = [&](size_t i) -> std::string { return i < w.size() ? w[i] : std::string(); };

        if (verb == "timeout" && argc == 1) {
            const long ms = std::strtol(w[1].c_str(), nullptr, 10);
            if (ms <= 0) return "bad time limit " + w[1];
            timeoutMs_ = static_cast<DWORD>(ms);
            return {};
        }
        if (verb == "sleep" && argc == 1) {
            Pump(static_cast<DWORD>(std::strtoul(w[1].c_str(), nullptr, 10)));
            return {};
        }
        if (verb == "start" && argc >= 2) return Start(w);
        if ((verb == "wait-box" || verb == "wait-dialog" || verb == "wait-window") && argc <= 1)
            return WaitWindow(verb.substr(5), arg(1));
        if (verb == "read" && (argc == 0 || (argc == 1 && w[1] == "full"))) return Read(argc == 1);
        if (verb == "shot" && argc == 1) {
            if (!current_) return "no current window";
            return Screenshot(current_, w[1]);
        }
        if (verb == "press" && argc == 1) return Press(w[1], false);
        if (verb == "press" && argc == 2 && w[2] == "async") return Press(w[1], true);
        if (verb == "wait-file" && argc == 1) return WaitFile(w[1]);
        if (verb == "write-file" && argc == 1) return MakeFile(w[1]);
        if (verb == "key" && argc == 1) return Key(w[1]);
        if (verb == "close" && argc == 0) return CloseBox();
        if (verb == "wait-gone" && argc == 0) return WaitGone();
        if (verb == "wait-exit" && argc <= 1) return WaitExit(arg(1));
        if (verb == "exit-code" && argc <= 1) return ExitCode(arg(1));
        if (verb == "make-window" && argc == 1) return MakeWindow(w[1]);
        if (verb == "cover" && argc == 1) return Cover(w[1]);
        if (verb == "overlap" && argc == 0) return Overlap();
        if (verb == "select" && argc == 1) return Select(w[1]);
        if (verb == "hold" && argc == 2) return Hold(w[1], w[2]);
        if (verb == "release" && argc == 1) return Release(w[1]);
        if (verb == "watch" && argc == 0) return Watch();
        if (verb == "watched" && argc == 0) return Watched();
        if (verb == "note" && argc == 0) {
            if (!watcher_) return "not watching";
            watcher_->Note();
            return {};
        }
        if (verb == "caption-icon" && (argc == 1 || argc == 2)) return CaptionIcon(w);
        return "unknown step or wrong number of words: " + verb;
    }

    Process* Find(const std::string& label) {
        if (label.empty()) return procs_.empty() ? nullptr : &procs_.back();
        for (auto& p : procs_) {
            if (p.label == label) return &p;
        }
        return nullptr;
    }

    static bool Ended(const Process& p) { return WaitForSingleObject(p.handle, 0) != WAIT_TIMEOUT; }

    std::string Start(const std::vector<std::string>& w) {
        for (const auto& p : procs_) {
            if (p.label == w[1]) return "label " + w[1] + " is already used";
        }
        std::string commandLine = "\"" + w[2] + "\"";
        for (size_t i = 3; i < w.size(); ++i) commandLine += " " + w[i];
        // The program's folder: the path up to its last backslash, skipping
        // the trail bytes of double-byte characters.
        size_t cut = std::string::npos;
        for (size_t i = 0; i < w[2].size(); ++i) {
            if (IsCp932LeadByte(static_cast<unsigned char>(w[2][i])))
                ++i;
            else if (w[2][i] == '\\')
                cut = i;
        }
        const std::string folder = cut == std::string::npos ? std::string() : w[2].substr(0, cut);

        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::vector<char> cmd(commandLine.begin(), commandLine.end());
        cmd.push_back('\0');
        if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &si, &pi))
            return "cannot start the program (error " + Number(GetLastError()) + ")";
        CloseHandle(pi.hThread);
        procs_.push_back({w[1], pi.hProcess, pi.dwProcessId});
        return {};
    }

    // A visible top-level window of a started process (of `label` only, when
    // given) that no earlier step has taken.
    HWND NewWindow(const std::string& label, Process** owner) {
        for (HWND hwnd : TopLevelWindows()) {
            if (seen_.count(hwnd) || !IsWindowVisible(hwnd)) continue;
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            for (auto& p : procs_) {
                if (p.pid == pid && (label.empty() || p.label == label)) {
                    *owner = &p;
                    return hwnd;
                }
            }
        }
        return nullptr;
    }

    std::string WaitWindow(const std::string& wanted, const std::string& label) {
        if (procs_.empty()) return "no program started";
        if (!label.empty() && !Find(label)) return "no process " + label;
        const DWORD start = GetTickCount();
        for (;;) {
            Process* owner = nullptr;
            if (HWND hwnd = NewWindow(label, &owner)) {
                seen_.insert(hwnd);
                current_ = hwnd;
                currentLabel_ = owner->label;
                currentKind_ = KindOf(hwnd);
                if (wanted != "window" && currentKind_ != wanted) {
                    std::string error;
                    if (Settle(hwnd, &error)) Write(Describe(hwnd, false));
                    return "expected a " + wanted + ", found a " + currentKind_;
                }
                return {};
            }
            bool anyAlive = false;
            for (auto& p : procs_) {
                if ((label.empty() || p.label == label) && !Ended(p)) anyAlive = true;
            }
            if (!anyAlive) return "the program ended while waiting for a " + wanted;
            if (GetTickCount() - start >= timeoutMs_)
                return "no " + wanted + " within " + Number(timeoutMs_) + " ms";
            Pump(kPollMs);
        }
    }

    // What can change while a window settles; read without sending messages.
    static std::string Snapshot(HWND hwnd) {
        std::string s = WindowText(hwnd) + '\x01' + Hex32(GetWindowLongA(hwnd, GWL_STYLE));
        for (HWND c : Children(hwnd)) {
            s += '\x01' + Number(GetDlgCtrlID(c)) + ' ' + Hex32(GetWindowLongA(c, GWL_STYLE)) +
                 ' ' + WindowText(c);
        }
        return s;
    }

    // Waits until the window answers messages and keeps still for kSettleMs.
    bool Settle(HWND hwnd, std::string* error) {
        const DWORD start = GetTickCount();
        std::string last;
        DWORD stableSince = 0;
        bool haveLast = false;
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeoutMs_) {
                *error = "window does not respond within " + Number(timeoutMs_) + " ms";
                return false;
            }
            if (!Ask(hwnd, WM_NULL, 0, 0, timeoutMs_ - elapsed, nullptr)) {
                if (!IsWindow(hwnd)) {
                    *error = "window closed";
                    return false;
                }
                continue;
            }
            const std::string now = Snapshot(hwnd);
            if (!haveLast || now != last) {
                last = now;
                haveLast = true;
                stableSince = GetTickCount();
            } else if (GetTickCount() - stableSince >= kSettleMs) {
                return true;
            }
            Pump(kPollMs);
        }
    }

    // True when a visible window above `hwnd` in the z-order overlaps it.
    static bool Covered(HWND hwnd) {
        RECT r;
        if (!GetWindowRect(hwnd, &r)) return false;
        for (HWND above = GetWindow(hwnd, GW_HWNDPREV); above;
             above = GetWindow(above, GW_HWNDPREV)) {
            RECT a, both;
            if (IsWindowVisible(above) && GetWindowRect(above, &a) && IntersectRect(&both, &r, &a))
                return true;
        }
        return false;
    }

    void BringToFront(HWND hwnd) {
        if (GetForegroundWindow() == hwnd) return;
        SetForegroundWindow(hwnd);
        for (int i = 0; i < 40 && GetForegroundWindow() != hwnd; ++i) Pump(kPollMs);
    }

    // Moves `hwnd` to the bottom of the z-order and back to the top, without
    // activating it. The moves are posted, so a program that no longer
    // answers cannot hold the driver.
    //
    // Why the foreground is not enough: in Wine a window rises when its own
    // thread handles its activation, so a program that a busy machine lets
    // run late raises its window over one that took the foreground since
    // (the product's window, activated when the updater's confirmation
    // closed, over the error box that follows). Why a plain lift to the top
    // is not enough either: Wine's z-order need not match the screen. A
    // window lifted while a topmost window lay above it comes first in the
    // z-order, yet stays under the others on the screen once that one goes,
    // and lifting a window that is already first changes nothing. Down and
    // up again moves it on the screen too.
    static void Restack(HWND hwnd) {
        const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS;
        SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, flags);
        SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, flags);
    }

    int DefaultButton(HWND hwnd) {
        DWORD_PTR r = 0;
        if (!Ask(hwnd, DM_GETDEFID, 0, 0, 2000, &r) || HIWORD(r) != DC_HASDEFID) return 0;
        return LOWORD(r);
    }

    int FocusId(HWND hwnd) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        const DWORD tid = GetWindowThreadProcessId(hwnd, nullptr);
        if (!GetGUIThreadInfo(tid, &info) || !info.hwndFocus) return 0;
        if (GetParent(info.hwndFocus) != hwnd) return 0;
        return GetDlgCtrlID(info.hwndFocus);
    }

    static bool IsIconStatic(HWND c) {
        return ClassName(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    }

    // Looks at the screen area `area` of the top-level window `top` until
    // `find` recognises what it shows there, and returns what `find` returned
    // (an index, not negative); -1 when the step's time limit passes first.
    // Until then another window may cover the area, or it may not be painted
    // yet: `top` is made the foreground window again at each look, and now
    // and then restacked over the others and `repaint` invalidated with
    // `redrawFlags`. So a verdict never rests on one early look, and no other
    // window can spoil it; only a picture that never shows takes the whole
    // time limit.
    int WaitForPicture(HWND top, HWND repaint, UINT redrawFlags, const RECT& area,
                       const std::function<int(const Canvas&)>& find) {
        const DWORD start = GetTickCount();
        for (int round = 0;; ++round) {
            Canvas shot(area.right - area.left, area.bottom - area.top);
            if (CaptureScreen(area, &shot)) {
                const int found = find(shot);
                if (found >= 0) return found;
            }
            if (!IsWindow(top) || GetTickCount() - start >= timeoutMs_) return -1;
            BringToFront(top);
            if (round % 20 == 0) {
                Restack(top);
                RedrawWindow(repaint, nullptr, nullptr, redrawFlags);
            }
            Pump(kPollMs);
        }
    }

    // Names the standard icon that an icon static shows (drawn at its
    // top-left corner, or centred with SS_CENTERIMAGE): "error", "question",
    // "warning", "information", "application"; "none" when the static holds
    // no icon; "unknown" when none of the standard icons shows there within
    // the step's time limit.
    std::string IdentifyIcon(HWND control) {
        DWORD_PTR handle = 0;
        if (!Ask(control, STM_GETICON, 0, 0, timeoutMs_, &handle)) return "unknown";
        if (!handle) return "none";
        RECT r;
        if (!GetWindowRect(control, &r)) return "unknown";
        const int w = r.right - r.left, h = r.bottom - r.top;
        const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
        if (w < cx || h < cy) return "unknown";
        const bool centred = GetWindowLongA(control, GWL_STYLE) & SS_CENTERIMAGE;
        const int ox = centred ? (w - cx) / 2 : 0, oy = centred ? (h - cy) / 2 : 0;
        std::vector<std::unique_ptr<IconProbe>> probes;
        for (const auto& icon : kStandardIcons)
            probes.push_back(std::make_unique<IconProbe>(LoadIconA(nullptr, icon.id), cx, cy));
        const int found = WaitForPicture(GetAncestor(control, GA_ROOT), control,
                                         RDW_INVALIDATE | RDW_ERASE, r, [&](const Canvas& shot) {
                                             for (size_t i = 0; i < probes.size(); ++i) {
                                                 if (probes[i]->MatchesAt(shot, ox, oy))
                                                     return static_cast<int>(i);
                                             }
                                             return -1;
                                         });
        return found < 0 ? "unknown" : kStandardIcons[found].name;
    }

    // The read-out of a window. A message box is described by what its caller
    // chose: caption, icon, text and buttons. Other windows (and a box read
    // with "full") get every control with its class, style and state.
    std::string Describe(HWND hwnd, bool full) {
        const std::string kind = KindOf(hwnd);
        const int defId = DefaultButton(hwnd);
        std::string out;
        if (kind == "box" && !full) {
            out = "box " + currentLabel_;
            out += "\n  caption " + QuoteText(WindowText(hwnd));
            std::string icon = "none";
            for (HWND c : Children(hwnd)) {
                if (!IsIconStatic(c)) continue;
                // A box without an icon keeps its icon static, hidden or empty.
                if (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) icon = IdentifyIcon(c);
                break;
            }
            out += "\n  icon " + icon;
            out += "\n  text " + QuoteText(WindowText(GetDlgItem(hwnd, kMessageTextId)));
            for (HWND c : Children(hwnd)) {
                if (ClassName(c) != "Button") continue;
                const LONG style = GetWindowLongA(c, GWL_STYLE);
                const int id = GetDlgCtrlID(c);
                out += "\n  button " + Number(id) + " " + QuoteText(WindowText(c));
                if (id == defId) out += " default";
                if (!(style & WS_VISIBLE)) out += " hidden";
                if (style & WS_DISABLED) out += " disabled";
            }
            return out;
        }
        out = kind + " " + currentLabel_ + " style " + Hex32(GetWindowLongA(hwnd, GWL_STYLE)) +
              " exstyle " + Hex32(GetWindowLongA(hwnd, GWL_EXSTYLE));
        out += "\n  caption " + QuoteText(WindowText(hwnd));
        for (HWND c : Children(hwnd)) {
            const LONG style = GetWindowLongA(c, GWL_STYLE);
            out += "\n  control " + Number(GetDlgCtrlID(c)) + " " + ClassName(c) + " " +
                   Hex32(style) + ((style & WS_VISIBLE) ? " visible" : " hidden") +
                   ((style & WS_DISABLED) ? " disabled" : " enabled") + " " +
                   QuoteText(WindowText(c));
            if (IsIconStatic(c)) out += " icon " + IdentifyIcon(c);
        }
        out += "\n  default " + Number(defId);
        out += "\n  focus " + Number(FocusId(hwnd));
        return out;
    }

    std::string Read(bool full) {
        if (!current_) return "no current window";
        if (!IsWindow(current_)) return "the current window is gone";
        BringToFront(current_);
        std::string error;
        if (!Settle(current_, &error)) return error;
        Write(Describe(current_, full));
        char name[64];
        std::snprintf(name, sizeof name, "%s-%s", currentKind_.c_str(), currentLabel_.c_str());
        return Screenshot(current_, name);
    }

    std::string Screenshot(HWND hwnd, const std::string& name) {
        RECT r;
        if (!GetWindowRect(hwnd, &r)) return "the window is gone";
        return ScreenshotRect(r, name);
    }

    // Has the harness save the desktop pixels in `r` as SHOTDIR\NN-NAME.png.
    std::string ScreenshotRect(RECT r, const std::string& name) {
        if (shotDir_.empty()) return {};
        const LONG sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
        if (r.left < 0) r.left = 0;
        if (r.top < 0) r.top = 0;
        if (r.right > sw) r.right = sw;
        if (r.bottom > sh) r.bottom = sh;
        if (r.right <= r.left || r.bottom <= r.top) return "the window is off the screen";

        char base[300];
        std::snprintf(base, sizeof base, "%s\\%02d-%s", shotDir_.c_str(), ++shotCount_,
                      name.c_str());
        const std::string tmp = std::string(base) + ".tmp", req = std::string(base) + ".req",
                          done = std::string(base) + ".done";
        FILE* f = std::fopen(tmp.c_str(), "wb");
        if (!f) return "cannot write " + tmp;
        std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        std::fclose(f);
        if (!MoveFileA(tmp.c_str(), req.c_str())) return "cannot write " + req;
        const DWORD start = GetTickCount();
        while (GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount() - start >= kShotTimeoutMs) return "the harness took no screenshot";
            Pump(kPollMs);
        }
        DeleteFileA(done.c_str());
        return {};
    }

    // Saves pixels as SHOTDIR\NN-NAME.bmp (32 bits, top-down); the harness
    // turns it into a PNG after the run.
    std::string SaveBitmap(const Canvas& shot, const std::string& name) {
        if (shotDir_.empty()) return {};
        char path[300];
        std::snprintf(path, sizeof path, "%s\\%02d-%s.bmp", shotDir_.c_str(), ++shotCount_,
                      name.c_str());
        const DWORD pixels = static_cast<DWORD>(shot.width()) * shot.height() * 4;
        BITMAPFILEHEADER file = {};
        BITMAPINFOHEADER info = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info;
        file.bfSize = file.bfOffBits + pixels;
        info.biSize = sizeof info;
        info.biWidth = shot.width();
        info.biHeight = -shot.height();
        info.biPlanes = 1;
        info.biBitCount = 32;
        info.biCompression = BI_RGB;
        FILE* f = std::fopen(path, "wb");
        if (!f) return std::string("cannot write ") + path;
        bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
                  std::fwrite(&info, sizeof info, 1, f) == 1;
        for (int y = 0; ok && y < shot.height(); ++y) {
            for (int x = 0; ok && x < shot.width(); ++x) {
                const DWORD p = shot.pixel(x, y);
                ok = std::fwrite(&p, 4, 1, f) == 1;
            }
        }
        if (std::fclose(f) != 0) ok = false;
        return ok ? std::string() : std::string("cannot write ") + path;
    }

    // Finds the button that `name` names (OK Cancel Abort Retry Ignore Yes No,
    // or a control id) in the current window; it must be visible and enabled.
    std::string FindButton(const std::string& name, HWND* found) {
        static const struct {
            const char* name;
            int id;
        } kButtons[] = {{"OK", IDOK},       {"Cancel", IDCANCEL}, {"Abort", IDABORT},
                        {"Retry", IDRETRY}, {"Ignore", IDIGNORE}, {"Yes", IDYES},
                        {"No", IDNO}};
        int id = -1;
        for (const auto& b : kButtons) {
            if (name == b.name) id = b.id;
        }
        if (id < 0) {
            char* end = nullptr;
            id = static_cast<int>(std::strtol(name.c_str(), &end, 0));
            if (name.empty() || *end) return "unknown button " + name;
        }
        if (!current_ || !IsWindow(current_)) return "no current window";
        HWND button = GetDlgItem(current_, id);
        if (!button || ClassName(button) != "Button") return "no button " + name;
        const LONG style = GetWindowLongA(button, GWL_STYLE);
        if (!(style & WS_VISIBLE)) return "button " + name + " is hidden";
        if (style & WS_DISABLED) return "button " + name + " is disabled";
        *found = button;
        return {};
    }

    // The click is sent, not posted: the step ends once the program has
    // handled it, with whatever the click set going (the update run, say), so
    // no later step can look at the window before the click took effect. A
    // program that ends while it handles the click (killed, for instance) has
    // taken it too. With `async` the click is posted and the step ends at
    // once, for steps that must act while the program is busy with it.
    std::string Press(const std::string& name, bool async) {
        HWND button = nullptr;
        const std::string error = FindButton(name, &button);
        if (!error.empty()) return error;
        BringToFront(current_);
        if (async) {
            PostMessageA(button, BM_CLICK, 0, 0);
            return {};
        }
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, timeoutMs_, &result))
            return {};
        const std::string late =
            "the program did not handle the click within " + Number(timeoutMs_) + " ms";
        if (GetLastError() == ERROR_TIMEOUT) return late;
        const DWORD start = GetTickCount();
        while (IsWindow(button) && !OwnerEnded(button)) {
            if (GetTickCount() - start >= timeoutMs_) return late;
            Pump(kPollMs);
        }
        return {};
    }

    // True when the process that owns `hwnd` is one this driver started and
    // it has ended.
    bool OwnerEnded(HWND hwnd) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        for (const auto& p : procs_) {
            if (p.pid == pid) return Ended(p);
        }
        return false;
    }

    std::string Key(const std::string& name) {
        WORD vk = 0;
        if (name == "Enter") vk = VK_RETURN;
        if (name == "Esc") vk = VK_ESCAPE;
        if (name == "Tab") vk = VK_TAB;
        if (name == "Space") vk = VK_SPACE;
        if (!vk) return "unknown key " + name;
        if (!current_ || !IsWindow(current_)) return "no current window";
        BringToFront(current_);
        if (GetForegroundWindow() != current_) return "cannot bring the window to the front";
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = vk;
        in[0].ki.wScan = in[1].ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, 0));
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        if (SendInput(2, in, sizeof(INPUT)) != 2) return "the key could not be sent";
        return {};
    }

    // Closes the current window through its close box. The box must be there:
    // the window is asked which part of it lies under points of its caption's
    // right end. The close command is then posted as the box sends it. (A
    // real mouse click is not used: Wine moves its cursor asynchronously, so
    // clicks land unreliably.)
    std::string CloseBox() {
        if (!current_ || !IsWindow(current_)) return "no current window";
        BringToFront(current_);
        RECT r;
        GetWindowRect(current_, &r);
        const int y =
            r.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
        bool found = false;
        for (int x = r.right - 1; !found && x > r.right - 80 && x > r.left; --x) {
            DWORD_PTR hit = 0;
            if (!Ask(current_, WM_NCHITTEST, 0, MAKELPARAM(x, y), 2000, &hit)) break;
            found = hit == HTCLOSE;
        }
        if (!found) return "the window has no close box";
        PostMessageA(current_, WM_SYSCOMMAND, SC_CLOSE, 0);
        return {};
    }

    // Looks for an icon where the system draws a window's small icon, in the
    // left part of its caption. The icon is tried as LoadIcon gives it, drawn
    // at the small size, and as its own small image, since the program under
    // test may hand either to WM_SETICON. "missing" takes the step's whole
    // time limit: an icon is reported missing only when it never showed.
    std::string CaptionIcon(const std::vector<std::string>& w) {
        if (!current_ || !IsWindow(current_)) return "no current window";
        const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
        HMODULE module = nullptr;
        LPCSTR id = nullptr;
        if (w.size() == 2) {
            for (const auto& s : kStandardIcons) {
                if (w[1] == s.name) id = s.id;
            }
            if (!id) return "unknown icon " + w[1];
        } else {
            char* end = nullptr;
            const long number = std::strtol(w[2].c_str(), &end, 0);
            if (w[2].empty() || *end || number <= 0 || number > 0xFFFF)
                return "bad icon id " + w[2];
            id = MAKEINTRESOURCEA(number);
            module = LoadLibraryExA(w[1].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (!module) return "cannot load " + w[1];
        }
        HICON big = LoadIconA(module, id);
        HICON small =
            static_cast<HICON>(LoadImageA(module, id, IMAGE_ICON, cx, cy, module ? 0 : LR_SHARED));
        std::string error;
        bool found = false;
        bool settled = false;
        if (big || small) {
            BringToFront(current_);
            settled = Settle(current_, &error);
        } else {
            error = "no icon " + w.back() + (module ? " in " + w[1] : "");
        }
        if (settled) {
            RECT r;
            GetWindowRect(current_, &r);
            const LONG height = GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFRAME);
            if (r.right > r.left + 4 * cx) r.right = r.left + 4 * cx;
            if (r.bottom > r.top + height) r.bottom = r.top + height;
            const IconProbe bigProbe(big, cx, cy), smallProbe(small, cx, cy);
            found = WaitForPicture(current_, current_, RDW_FRAME | RDW_INVALIDATE, r,
                                   [&](const Canvas& shot) {
                                       return (big && bigProbe.FoundIn(shot)) ||
                                                      (small && smallProbe.FoundIn(shot))
                                                  ? 0
                                                  : -1;
                                   }) == 0;
        }
        if (small && module) DestroyIcon(small);
        if (module) FreeLibrary(module);
        if (!settled) return error;
        Write(std::string("caption-icon ") + (found ? "found" : "missing"));
        return {};
    }

    std::string WaitGone() {
        if (!current_) return "no current window";
        const DWORD start = GetTickCount();
        while (IsWindow(current_) && IsWindowVisible(current_)) {
            if (GetTickCount() - start >= timeoutMs_)
                return "the window is still there after " + Number(timeoutMs_) + " ms";
            Pump(kPollMs);
        }
        current_ = nullptr;
        return {};
    }

    std::string WaitExit(const std::string& label) {
        Process* p = Find(label);
        if (!p) return label.empty() ? "no program started" : "no process " + label;
        const DWORD start = GetTickCount();
        while (!Ended(*p)) {
            Process* owner = nullptr;
            if (HWND hwnd = NewWindow(p->label, &owner)) {
                seen_.insert(hwnd);
                current_ = hwnd;
                currentLabel_ = owner->label;
                currentKind_ = KindOf(hwnd);
                std::string error;
                if (Settle(hwnd, &error)) Write(Describe(hwnd, false));
                return "a " + currentKind_ + " appeared while waiting for " + p->label + " to end";
            }
            if (GetTickCount() - start >= timeoutMs_)
                return p->label + " still runs after " + Number(timeoutMs_) + " ms";
            Pump(kPollMs);
        }
        Write("exit " + p->label);
        return {};
    }

    std::string ExitCode(const std::string& label) {
        Process* p = Find(label);
        if (!p) return label.empty() ? "no program started" : "no process " + label;
        DWORD code = 0;
        if (!Ended(*p) || !GetExitCodeProcess(p->handle, &code)) return p->label + " has not ended";
        Write("exit-code " + p->label + " " + Number(code));
        return {};
    }

    static bool RegisterOwnClass() {
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = OwnWindowProc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            wc.lpszClassName = kOwnWindowClass;
            registered = RegisterClassA(&wc) != 0;
        }
        return registered;
    }

    std::string MakeWindow(const std::string& title) {
        if (!RegisterOwnClass()) return "cannot register the window class";
        // Kept in a corner, away from the centred boxes and dialogs.
        const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
        HWND hwnd = CreateWindowExA(0, kOwnWindowClass, title.c_str(),
                                    WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, sw - 240, sh - 60, 240,
                                    60, nullptr, nullptr, instance(), nullptr);
        if (!hwnd) return "cannot create the window";
        ownWindows_.push_back(hwnd);
        Pump(kPollMs);
        return {};
    }

    static HINSTANCE instance() { return GetModuleHandleA(nullptr); }

    // Waits until the screen shows, all over `r`, the ground colour of the
    // driver's own windows: a window laid over another one is in the way only
    // once it is on the screen, which Wine brings about a little later. While
    // it does not show, `mine` (a plain window of the driver's, not topmost)
    // is restacked over the others: the window under it may still rise late
    // over it, as its own thread handles its activation.
    std::string WaitShown(const RECT& r, HWND mine = nullptr) {
        const COLORREF ground = GetSysColor(COLOR_WINDOW);
        const DWORD wanted =
            (GetRValue(ground) << 16) | (GetGValue(ground) << 8) | GetBValue(ground);
        const DWORD start = GetTickCount();
        for (;;) {
            Canvas shot(r.right - r.left, r.bottom - r.top);
            bool all = CaptureScreen(r, &shot);
            for (int y = 0; all && y < shot.height(); ++y) {
                for (int x = 0; all && x < shot.width(); ++x) all = shot.pixel(x, y) == wanted;
            }
            if (all) return {};
            if (GetTickCount() - start >= timeoutMs_)
                return "the window laid over it does not show within " + Number(timeoutMs_) + " ms";
            if (mine) Restack(mine);
            Pump(kPollMs);
        }
    }

    // Lays a blank window of the driver's own over the current window for
    // `ms` milliseconds, going back above every other window whenever the
    // driver waits in a later step (while the driver answers its messages):
    // another program's window that keeps lying over the program under test
    // for a while.
    std::string Cover(const std::string& ms) {
        if (!current_ || !IsWindow(current_)) return "no current window";
        char* end = nullptr;
        const unsigned long lifetime = std::strtoul(ms.c_str(), &end, 10);
        if (ms.empty() || *end || lifetime == 0) return "bad time " + ms;
        if (!RegisterOwnClass()) return "cannot register the window class";
        RECT r;
        GetWindowRect(current_, &r);
        HWND hwnd = CreateWindowExA(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kOwnWindowClass, "",
                                    WS_POPUP | WS_VISIBLE, r.left, r.top, r.right - r.left,
                                    r.bottom - r.top, nullptr, nullptr, instance(), nullptr);
        if (!hwnd) return "cannot create the cover";
        SetTimer(hwnd, kCoverEndTimer, lifetime, nullptr);
        SetTimer(hwnd, kCoverTopTimer, kPollMs, nullptr);
        ownWindows_.push_back(hwnd);
        UpdateWindow(hwnd);
        return WaitShown(r);
    }

    // Lays a plain window of the driver's own over the current window, which
    // stays the foreground window: the state a program leaves when Wine lets
    // it raise its window late, after the current window took the foreground.
    // The window stays until the driver ends. The step fails unless the
    // current window is then both the foreground window and covered.
    std::string Overlap() {
        if (!current_ || !IsWindow(current_)) return "no current window";
        if (!RegisterOwnClass()) return "cannot register the window class";
        BringToFront(current_);
        std::string error;
        if (!Settle(current_, &error)) return error;
        RECT r;
        GetWindowRect(current_, &r);
        HWND hwnd =
            CreateWindowExA(0, kOwnWindowClass, "", WS_POPUP, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, instance(), nullptr);
        if (!hwnd) return "cannot create the window";
        ownWindows_.push_back(hwnd);
        SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        UpdateWindow(hwnd);
        error = WaitShown(r, hwnd);
        if (!error.empty()) return error;
        if (GetForegroundWindow() != current_) return "the window lost the foreground";
        if (!Covered(current_)) return "the window is not covered";
        return {};
    }

    std::string Select(const std::string& title) {
        for (HWND hwnd : TopLevelWindows()) {
            if (!IsWindowVisible(hwnd) || WindowText(hwnd) != title) continue;
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            for (auto& p : procs_) {
                if (p.pid != pid) continue;
                seen_.insert(hwnd);
                current_ = hwnd;
                currentLabel_ = p.label;
                currentKind_ = KindOf(hwnd);
                Write("selected " + currentKind_ + " " + p.label);
                return {};
            }
        }
        return "no window titled " + QuoteText(title);
    }

    std::string Hold(const std::string& path, const std::string& share) {
        DWORD mode = 0;
        if (share == "read")
            mode = FILE_SHARE_READ;
        else if (share != "none")
            return "unknown sharing " + share + " (none or read)";
        for (const auto& h : held_) {
            if (h.first == path) return path + " is already held";
        }
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, mode, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "cannot open " + path + " (error " + Number(GetLastError()) + ")";
        held_.push_back({path, file});
        return {};
    }

    // Waits until the file PATH exists: a sign from the shell harness.
    std::string WaitFile(const std::string& path) {
        const DWORD start = GetTickCount();
        while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount() - start >= timeoutMs_)
                return "no file " + path + " within " + Number(timeoutMs_) + " ms";
            Pump(kPollMs);
        }
        return {};
    }

    // Makes the empty file PATH: a sign to the shell harness.
    std::string MakeFile(const std::string& path) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "cannot make " + path + " (error " + Number(GetLastError()) + ")";
        CloseHandle(file);
        return {};
    }

    std::string Release(const std::string& path) {
        for (auto it = held_.begin(); it != held_.end(); ++it) {
            if (it->first == path) {
                CloseHandle(it->second);
                held_.erase(it);
                return {};
            }
        }
        return path + " is not held";
    }

    std::string Watch() {
        if (!current_ || !IsWindow(current_)) return "no current window";
        if (watcher_) return "already watching";
        watcher_ = std::make_unique<Watcher>(current_);
        if (!watcher_->running()) {
            watcher_.reset();
            return "cannot start watching";
        }
        watchLabel_ = currentLabel_;
        return {};
    }

    std::string Watched() {
        if (!watcher_) return "not watching";
        watcher_->Stop();
        Write("watched " + watchLabel_ + watcher_->Report());
        int n = 0;
        for (const auto& shot : watcher_->captures()) {
            const std::string error = SaveBitmap(*shot, "watch-" + watchLabel_ + "-" + Number(++n));
            if (!error.empty()) return error;
        }
        std::fprintf(stderr, "driver: last change seen %lu ms after the watch began\n",
                     watcher_->lastChangeMs());
        watcher_.reset();
        return {};
    }

    FILE* transcript_;
    std::string shotDir_;
    int shotCount_ = 0;
    DWORD timeoutMs_ = kDefaultTimeoutMs;
    std::vector<Process> procs_;
    std::set<HWND> seen_;
    std::vector<HWND> ownWindows_;
    std::vector<std::pair<std::string, HANDLE>> held_;
    std::unique_ptr<Watcher> watcher_;
    std::string watchLabel_;
    HWND current_ = nullptr;
    std::string currentLabel_, currentKind_;
};

std::string ReadFile(const char* path, bool* ok) {
    std::string text;
    FILE* f = std::fopen(path, "rb");
    *ok = f != nullptr;
    if (!f) return text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

}  // namespace
}  // namespace morivane::e2e

int main(int argc, char** argv) {
    using namespace morivane::e2e;
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: morivane-e2e-driver SCRIPT TRANSCRIPT [SHOTDIR]\n");
        return 2;
    }
    bool ok = false;
    const std::string text = ReadFile(argv[1], &ok);
    if (!ok) {
        std::fprintf(stderr, "driver: cannot read %s\n", argv[1]);
        return 2;
    }
    const ParsedScript script = ParseScript(text);
    if (!script.error.empty()) {
        std::fprintf(stderr, "driver: %s line %d: %s\n", argv[1], script.errorLine,
                     script.error.c_str());
        return 2;
    }
    FILE* transcript = std::fopen(argv[2], "wb");
    if (!transcript) {
        std::fprintf(stderr, "driver: cannot write %s\n", argv[2]);
        return 2;
    }
    int status;
    {
        Driver driver(transcript, argc == 4 ? argv[3] : "");
        status = driver.Run(script.steps);
    }
    std::fclose(transcript);
    return status;
}
