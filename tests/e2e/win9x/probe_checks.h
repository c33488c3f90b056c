// The report of a probe program: a line per check, "ok: " or "FAILED: ",
// shown in one box that the e2e driver reads; the probe's exit code is the
// number of checks that failed.
#pragma once

#include <windows.h>

#include <string>

struct ProbeChecks {
    std::string report;
    int failed = 0;

    void Expect(bool ok, const char* what) {
        report += ok ? "ok: " : "FAILED: ";
        report += what;
        report += '\n';
        if (!ok) ++failed;
    }

    // Shows the report under `caption` and gives the exit code.
    int Show(const char* caption) const {
        MessageBoxA(nullptr, report.c_str(), caption, MB_OK);
        return failed;
    }
};
