#include "CliApp.h"

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/TerminalInteraction.h"
#include "cli/TerminalText.h"
#include "document/CQuillon3Doc.h"
#include "operations/EditCorrections.h"
#include "operations/HissFilter.h"
#include "operations/SaveFromRequest.h"
#include "settings/QtSettingsStore.h"
#include "settings/SettingsStore.h"

#include <csignal>
#include <iostream>
#include <memory>

namespace kelvane {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

// The one place where how a run ended becomes its exit status. A question
// declined or a stage stopped because of an interrupt is the interrupt's.
int ExitFor(const OpResult& r)
{
    switch (r.kind) {
    case FailKind::None: return kExitOk;
    case FailKind::BadInput: return kExitRefused;
    case FailKind::Cancelled:
    case FailKind::Declined: return g_interrupted ? kExitInterrupted : kExitFailed;
    case FailKind::Environment:
    case FailKind::NoSpace:
    case FailKind::Internal: break;
    }
    return kExitFailed;
}

std::unique_ptr<CTerminalInteraction> MakeInteraction(const CliArgs& args)
{
    CTerminalInteraction::Options o;
    o.progress.quiet = args.quiet;
    o.progress.cancelRequested = [] { return g_interrupted != 0; };
    // An interrupt means "stop everything": every cancel question is answered
    // the way that ends the operation; without one, questions keep the work.
    const bool overwrite = args.overwrite, unknownTags = args.allowUnknownTags, removeHiss = args.removeHiss;
    const bool removeCorrections = args.removeCorrections.has_value();
    o.policy = [overwrite, unknownTags, removeHiss, removeCorrections](std::string_view text,
                                                                       MbButtons buttons) -> std::optional<MbAnswer> {
        // The save lists the existing files after its question, so the text
        // is matched by its start. Replacing them is only ever done on the
        // user's word, and never while being stopped; the same for names
        // with unknown tags.
        if (text.rfind(kConfirmSaveText, 0) == 0) return overwrite && !g_interrupted ? MbAnswer::Yes : MbAnswer::No;
        if (text == kUnknownTagsQuestion) return unknownTags && !g_interrupted ? MbAnswer::Ok : MbAnswer::Cancel;
        // --remove-hiss and --profile are the user's word for these.
        if (text == kMsgRemoveHissFilter) return removeHiss && !g_interrupted ? MbAnswer::Ok : MbAnswer::Cancel;
        if (text == kMsgCaptureProfile) return !g_interrupted ? MbAnswer::Ok : MbAnswer::Cancel;
        if (text == kMsgRemoveBlock) return removeCorrections && !g_interrupted ? MbAnswer::Ok : MbAnswer::Cancel;
        if (!g_interrupted) return std::nullopt;
        if (buttons == MbButtons::YesNoCancel) return MbAnswer::No;
        if (buttons == MbButtons::YesNo) return MbAnswer::Yes;
        return std::nullopt;
    };
    return std::make_unique<CTerminalInteraction>(std::move(o));
}

OpResult Run(const CliArgs& args)
{
    std::unique_ptr<ISettingsStore> settings;
    CQtSettingsStore* fileStore = nullptr;
    if (args.noSettings) {
        settings = std::make_unique<CMemorySettings>();
    } else {
        auto store = std::make_unique<CQtSettingsStore>();
        fileStore = store.get();
        settings = std::move(store);
    }
    std::unique_ptr<CTerminalInteraction> ui = MakeInteraction(args);
    CQuillon3Doc doc(*settings, *ui);
    OpResult result;
    try {
        result = args.command == "info"       ? RunInfo(doc, args)
                 : args.command == "resample" ? RunResample(doc, args)
                 : args.command == "merge"    ? RunMerge(doc, args)
                                              : RunProcess(doc, args);
    } catch (const std::exception& e) {
        std::cerr << "kelvane-cli: internal error: " << Printable(e.what()) << "\n";
        doc.DeleteContents();
        result = OpResult::Fail(FailKind::Internal, e.what());
    }
    // What the store has to say about its file (lines it cannot read, a
    // copy kept, changes it could not save), as it stands after the run.
    if (fileStore && !fileStore->Problem().empty())
        std::cerr << "kelvane-cli: " << Printable(fileStore->Problem()) << "\n";
    return result;
}

}  // namespace

bool CliInterrupted() { return g_interrupted != 0; }

int RunCli(int argc, char** argv)
{
    CliArgs args;
    if (std::optional<OpResult> done = ParseCommandLine(argc, argv, args)) return ExitFor(*done);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    return ExitFor(Run(args));
}

}  // namespace kelvane
