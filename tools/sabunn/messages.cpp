#include "tools/sabunn/messages.h"

#include <cstdio>

#include "patch/diff_patcher.h"
#include "tools/sabunn/commands.h"
#include "ui/catalogue.h"

namespace morivane::sabunn {

std::string MessageLine(int number) {
    const CatalogueEntry* entry = FindMessage(number);
    if (entry == nullptr) return "message " + std::to_string(number);
    std::string text = entry->text;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (char& c : text) {
        if (c == '\n') c = ' ';
    }
    return "message " + std::to_string(number) + ": " + text + " (" + entry->english + ")";
}

void ShowMessage(int number, const std::string& cause) {
    if (number < IDS_CLOSE_PROGRAMS) {
        ReportError(MessageLine(number));
        if (!cause.empty()) ReportError("  cause: " + cause);
        return;
    }
    std::printf("%s\n", MessageLine(number).c_str());
    if (!cause.empty()) std::printf("  cause: %s\n", cause.c_str());
    std::fflush(stdout);
}

PatchFunction ExplainedPatches::Over(FileSystem& files, PayloadStore& payloads) {
    return [&files, &payloads, lastCause = lastCause_](const std::string& oldPath,
                                                       const std::string& newPath, int payloadId) {
        DiffPatcher patcher(files, payloads);
        const int result = patcher.Patch(oldPath, newPath, payloadId);
        *lastCause = DescribePatchCause(patcher.Cause());
        return result;
    };
}

}  // namespace morivane::sabunn
