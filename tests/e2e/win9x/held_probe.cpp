// Asks the Win32 file system whether files are held by another program
// (OpenUnshared and its *inUse) and shows one box with a line per check; the
// exit code counts the checks that failed. Run under Wine as Windows 95 after
// the driver has made C:\e2e\held-none.txt and C:\e2e\held-read.txt and
// holds them open: the first letting nobody else in, the second readers.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/win32_file_system.h"

namespace {

struct Checks {
    std::string report;
    int failed = 0;

    void Expect(bool ok, const std::string& what) {
        report += ok ? "ok: " : "FAILED: ";
        report += what;
        report += '\n';
        if (!ok) ++failed;
    }
};

struct Outcome {
    bool opened = false;
    bool inUse = false;
};

Outcome OpenUnshared(morivane::FileSystem& files, const std::string& path) {
    bool inUse = true;  // OpenUnshared must set it on every path
    const std::unique_ptr<morivane::InputFile> in = files.OpenUnshared(path, &inUse);
    return {in != nullptr, inUse};
}

bool Held(const Outcome& o) {
    return !o.opened && o.inUse;
}
bool Free(const Outcome& o) {
    return o.opened && !o.inUse;
}
bool Refused(const Outcome& o) {
    return !o.opened && !o.inUse;
}

// The error of an open for reading without sharing; 0 when it opened.
DWORD UnsharedOpenError(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    morivane::Win32FileSystem files;
    Checks checks;

    // Held by the driver, another process.
    checks.Expect(Held(OpenUnshared(files, "C:\\e2e\\held-none.txt")),
                  "a file another program holds without sharing is held");
    checks.Expect(Held(OpenUnshared(files, "C:\\e2e\\held-read.txt")),
                  "a file another program holds sharing only reads is held");

    // An updater's record: created new and written, shared with readers.
    const std::string record = "C:\\e2e\\probe-record.txt";
    files.Delete(record);
    std::unique_ptr<morivane::OutputFile> writer = files.CreateNew(record);
    checks.Expect(writer != nullptr && writer->Write("entry", 1, 5) == 5,
                  "a record is created and written");
    checks.Expect(Held(OpenUnshared(files, record)), "a record open for writing is held");
    checks.Expect(writer != nullptr && writer->Close(), "the record is closed");
    checks.Expect(Free(OpenUnshared(files, record)), "a closed record opens");

    // Read-only is no reason to refuse reading, nor a sign of a holder.
    files.MakeWritable(record);
    const bool readOnly =
        SetFileAttributesA(record.c_str(), FILE_ATTRIBUTE_READONLY) != FALSE;
    checks.Expect(readOnly && Free(OpenUnshared(files, record)), "a read-only file opens");
    files.MakeWritable(record);
    checks.Expect(files.Delete(record), "the record is deleted");

    // Refused for reasons that are not another program.
    checks.Expect(Refused(OpenUnshared(files, record)), "a missing file is not held");
    // A directory cannot be opened as a file: ERROR_ACCESS_DENIED, which a
    // shared open answers the same way.
    const DWORD directoryError = UnsharedOpenError("C:\\e2e");
    checks.Expect(directoryError == ERROR_ACCESS_DENIED,
                  "a directory is refused with ERROR_ACCESS_DENIED (error " +
                      std::to_string(directoryError) + ")");
    checks.Expect(Refused(OpenUnshared(files, "C:\\e2e")), "a directory is not held");

    MessageBoxA(nullptr, checks.report.c_str(), "Held files probe", MB_OK);
    return checks.failed;
}
