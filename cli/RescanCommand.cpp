#include "cli/CliCommands.h"

#include "cli/TerminalText.h"
#include "document/CQuillon3Doc.h"
#include "document/CommandState.h"
#include "operations/EditCorrections.h"
#include "operations/Rescan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace kelvane {

namespace {

// The batch tool stands where the desktop's free waveform view would: the
// command rules of that state decide what may run.
bool Allowed(const CQuillon3Doc& doc, Command command, const char* flag)
{
    const ViewState freeView{true, false, false, false};
    if (QueryCommand(command, doc, freeView).enabled) return true;
    if (doc.filtersApplied)
        std::cerr << "kelvane-cli: " << flag
                  << " would undo the hiss filter of the recording; it is not run on a filtered recording\n";
    else
        std::cerr << "kelvane-cli: " << flag << " needs a processed recording\n";
    return false;
}

// A point as a position of the recording, clamped to its audio.
int32_t PositionOf(const CQuillon3Doc& doc, const TimePoint& t)
{
    const double frames = t.frames ? t.value : std::floor(t.value * doc.sampleRate);
    const double pos = doc.dataStart + 4.0 * frames;
    return static_cast<int32_t>(std::clamp<double>(pos, doc.dataStart, doc.dataEnd));
}

OpResult RemoveBlock(CQuillon3Doc& doc, const std::pair<TimePoint, TimePoint>& block)
{
    const int32_t start = PositionOf(doc, block.first), end = PositionOf(doc, block.second);
    if (start >= doc.dataEnd) {
        char text[160];
        std::snprintf(text, sizeof text, "--remove-corrections starts after the end of the recording (%.1f s)",
                      (doc.dataEnd - doc.dataStart) / 4.0 / doc.sampleRate);
        std::cerr << "kelvane-cli: " << text << "\n";
        return OpResult::Fail(FailKind::BadInput, text);
    }
    doc.blockStart = start;
    doc.blockEnd = end;
    if (!Allowed(doc, Command::RemoveCorrections, "--remove-corrections")) {
        doc.blockStart = doc.blockEnd = 0;
        return OpResult::Fail(FailKind::BadInput, "");
    }
    const int32_t before = doc.ClickCount();
    // The question "Really Remove?" is answered by the flag itself.
    const OpResult r = RemoveCorrectionsInBlock(doc);
    doc.blockStart = doc.blockEnd = 0;
    if (r.Ok()) std::cerr << "Removed " << before - doc.ClickCount() << " corrections\n";
    return r;
}

}  // namespace

OpResult RunCorrectionEdits(CQuillon3Doc& doc, const CliArgs& args)
{
    if (args.rescan) {
        if (!Allowed(doc, Command::RescanClicks, "--rescan")) return OpResult::Fail(FailKind::BadInput, "");
        RescanRequest request = args.scanOptions;
        request.wholeFile = true;
        request.superimpose = false;
        if (OpResult r = Rescan(doc, request); !r.Ok()) return r;
    }
    if (args.superScan) {
        if (!Allowed(doc, Command::SuperScanClicks, "--super-scan")) return OpResult::Fail(FailKind::BadInput, "");
        RescanRequest request = args.scanOptions;
        request.wholeFile = true;
        request.superimpose = true;
        request.passes = *args.superScan;
        if (OpResult r = Rescan(doc, request); !r.Ok()) return r;
    }
    if (args.removeCorrections) return RemoveBlock(doc, *args.removeCorrections);
    return OpResult::Success();
}

}  // namespace kelvane
