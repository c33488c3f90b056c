// A start-up front end (update/startup.h) that records what start-up shows
// and asks, in order, answers the confirmation as told, and knows a set of
// open window titles. Its dialog either records the request or, when told,
// presses OK once and runs the update through a view that records statuses.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "update/startup.h"

namespace morivane::testing {

class FakeFrontend : public Frontend, public UpdateView {
  public:
    bool confirm = true;              // the answer to the confirmation
    std::set<int> openWindows;        // title messages (54, 55) with a window
    bool pressOk = false;             // the dialog runs the update
    std::vector<std::string> events;  // "refuse 7", "confirm", "find 54", "dialog", ...
    std::vector<int> statuses;        // status texts the run showed
    std::vector<RecoveryResult> recoveries;
    struct DialogRun {
        std::string bootPath;
        std::string installDirectory;
        bool hasHost = false;
        std::size_t sums = 0;
    };
    std::vector<DialogRun> dialogRuns;

    void ShowRefusal(int messageNumber) override {
        events.push_back("refuse " + std::to_string(messageNumber));
    }
    bool Confirm() override {
        events.push_back("confirm");
        return confirm;
    }
    bool WindowExists(int titleMessage) override {
        events.push_back("find " + std::to_string(titleMessage));
        return openWindows.count(titleMessage) != 0;
    }
    void RunUpdateDialog(const UpdateRequest& request) override {
        events.push_back("dialog");
        dialogRuns.push_back({request.bootPath, request.installDirectory, request.host != nullptr,
                              request.sums.size()});
        if (!pressOk) return;
        bool runFinished = false;
        HandleUpdateOk(runFinished, request.Context(), request.bootPath, request.installDirectory,
                       *this);
    }
    void NoteRecovery(RecoveryResult result) override { recoveries.push_back(result); }

    void ShowStatus(int messageNumber) override { statuses.push_back(messageNumber); }
    void HideCancel() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    // The refusals shown, in order.
    std::vector<int> Refusals() const {
        std::vector<int> out;
        for (const std::string& e : events) {
            if (e.rfind("refuse ", 0) == 0) out.push_back(std::stoi(e.substr(7)));
        }
        return out;
    }
};

}  // namespace morivane::testing
