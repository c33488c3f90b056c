#include "patch/patch_cause.h"

#include "patch/payload.h"

namespace morivane {

namespace {

const char* BlockName(PatchBlock block) {
    switch (block) {
        case PatchBlock::RunList:
            return "run list";
        case PatchBlock::OffsetList:
            return "offset list";
        case PatchBlock::LiteralPool:
            return "literal pool";
        case PatchBlock::OldImage:
            return "old file's image";
    }
    return "block";
}

}  // namespace

std::string DescribePatchCause(const PatchCause& c) {
    using std::to_string;
    switch (c.fault) {
        case PatchFault::None:
            return {};
        case PatchFault::OldFileUnopened:
            return "the old file cannot be opened for reading";
        case PatchFault::NewFileUncreated:
            return "the new file cannot be created";
        case PatchFault::PayloadMissing:
            return "there is no payload with this id";
        case PatchFault::PayloadUndecodable:
            return "the payload does not decode: " + DescribeDecodeFailure(c.decode, c.hf);
        case PatchFault::ScriptRefused:
            return "the payload's script is damaged: " + DescribeScriptFault(c.script);
        case PatchFault::BlockUnallocated:
            return std::string("the ") + BlockName(c.block) + " (" + to_string(c.needed) +
                   " bytes) cannot be allocated";
        case PatchFault::OldFileUnmeasured:
            return "the old file's length cannot be told";
        case PatchFault::OldFileTooLarge:
            return "the old file (" + to_string(c.needed) + " bytes in whole units) is too large";
        case PatchFault::OldFileReadShort:
            return "the old file reads short: " + to_string(c.had) + " of " + to_string(c.needed) +
                   " units";
        case PatchFault::OldFileTooShort:
            return "the old file is " + to_string(c.needed - c.had) +
                   " bytes too short: the script copies up to byte " + to_string(c.needed) +
                   ", the old file holds " + to_string(c.had) + " in whole units; copy run " +
                   to_string(c.run) + " is the first to reach past its end";
        case PatchFault::WriteShort: {
            std::string text = "the new file writes short: run " + to_string(c.run) + " wrote " +
                               to_string(c.had) + " of " + to_string(c.needed) + " units";
            if (c.laterShortRuns > 0) {
                text += ", and " + to_string(c.laterShortRuns) + " later run(s) wrote short too";
            }
            return text;
        }
        case PatchFault::RunsDisagree:
            return "the runs add up to " + to_string(c.had) + " units, the script's header says " +
                   to_string(c.needed);
        case PatchFault::CloseFailed:
            return "the new file's last data could not be written when it was closed";
        case PatchFault::NothingLoaded:
            return "nothing is loaded to apply";
    }
    return "unknown cause";
}

}  // namespace morivane
