#pragma once
// The batch tool's commands: each reads the flags in CliArgs, runs the
// operations they ask for, prints what a person at a terminal needs to see,
// and returns how the run ended; CliApp maps that to the exit status.

#include "cli/CliOptions.h"
#include "document/ImportResult.h"

#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

// "info FILE": imports the file and describes it.
OpResult RunInfo(CQuillon3Doc& doc, const CliArgs& args);

// "process FILE": imports and processes the side, writes the report and
// the corrected recording, and saves the tracks.
OpResult RunProcess(CQuillon3Doc& doc, const CliArgs& args);

// "merge IN... -o MERGED": Merge Open of the inputs into MERGED, then the
// road of "process" with MERGED as its recording.
OpResult RunMerge(CQuillon3Doc& doc, const CliArgs& args);

// The first step of that road for a merge: Merge Open and the automatic
// processing, with the import's check of the scratch files (open.opened).
OpResult MergeAndProcess(CQuillon3Doc& doc, const CliArgs& args, const OpenRequest& open,
                         const ProcessRequest& process);

// The correction edits asked for after the automatic processing, in this
// order: the file re-scan, the super-scan, the removal of a block's
// corrections. Refused (BadInput) where the command rules would not offer
// them, such as on a hiss-filtered recording.
OpResult RunCorrectionEdits(CQuillon3Doc& doc, const CliArgs& args);

// "resample IN OUT": converts a WAV file's rate and depth.
OpResult RunResample(CQuillon3Doc& doc, const CliArgs& args);

// The conversion the flags ask for, over the stored resample settings.
ResampleSettings ResampleSettingsFor(CQuillon3Doc& doc, const CliArgs& args);

// Removes, and names on stderr, the scratch files that runs which have
// ended left in the folders this run uses.
void ReclaimScratchFiles(CQuillon3Doc& doc, const CliArgs& args);

// Scratch file names and the lock files that guard them.
std::vector<std::string> WithLockFiles(std::vector<std::string> names);

// The scratch files the import will make for the input, under the names it
// gives them when those are free: the decoded copy of a FLAC or APE input,
// and the working copy. Whether a WAV input is mono, and so gets a decoded
// copy too, is only known once it is read.
std::vector<std::string> PredictedScratchFiles(CQuillon3Doc& doc, const CliArgs& args);

}  // namespace kelvane
