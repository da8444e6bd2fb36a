#include "cli/CliCommands.h"

#include "cli/TerminalText.h"
#include "document/CQuillon3Doc.h"
#include "operations/MergeOpen.h"

#include <filesystem>
#include <iostream>

namespace kelvane {

namespace {

namespace fs = std::filesystem;

bool NamesTheSameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    if (ec) return false;
    return ca == fs::weakly_canonical(fs::absolute(b, ec), ec) && !ec;
}

}  // namespace

OpResult RunMerge(CQuillon3Doc& doc, const CliArgs& args)
{
    // The process road guards the recording it opens; the inputs of a merge
    // are the user's recordings as much, so no report may land on one.
    for (const std::optional<std::string>* out : {&args.eventsJson, &args.corrected}) {
        if (!*out) continue;
        for (const std::string& in : args.mergeInputs) {
            if (NamesTheSameFile(**out, in)) {
                std::cerr << "kelvane-cli: " << Printable(**out) << " is one of the files to merge; it is never written\n";
                return OpResult::Fail(FailKind::BadInput, "");
            }
        }
    }
    return RunProcess(doc, args);
}

OpResult MergeAndProcess(CQuillon3Doc& doc, const CliArgs& args, const OpenRequest& open,
                         const ProcessRequest& process)
{
    MergeRequest request;
    request.inputs = args.mergeInputs;
    request.mergedPath = args.file;
    request.overwrite = args.overwrite;
    request.deleteInputs = args.deleteInputs;
    request.process = process;
    request.opened = open.opened;
    const OpResult merged = MergeOpen(doc, request);
    if (args.deleteInputs && doc.loaded) {
        for (const std::string& in : args.mergeInputs) {
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(in, ec))) std::cerr << "Deleted " << Printable(in) << "\n";
        }
    }
    return merged;
}

}  // namespace kelvane
