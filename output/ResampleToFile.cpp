#include "output/CResampler.h"

#include "document/Interaction.h"
#include "output/DurableFiles.h"
#include "output/ResampleWav.h"

#include <filesystem>

namespace kelvane {

namespace fs = std::filesystem;

ResampleStatus ResampleToFile(const std::string& in, const std::string& out, const ResampleSettings& settings,
                              const ResampleRun& run, bool replaceExisting)
{
    auto report = [&](const std::string& text) {
        if (run.ui) run.ui->MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
    };
    std::error_code error;
    // A link is followed, so that the file it leads to gets the result and
    // the link stays.
    std::string target = out;
    if (fs::is_symlink(fs::symlink_status(out, error))) {
        const fs::path resolved = fs::canonical(out, error);
        if (error) {
            report(std::string(kResampleCannotOpenOutput) + "\n" + out + ": " + error.message());
            return ResampleStatus::Refused;
        }
        target = resolved.string();
    }
    const bool exists = fs::exists(fs::symlink_status(target, error));
    if (exists && fs::equivalent(in, target, error)) {
        report("The operation cannot be completed.\nThe input file must not be overwritten.");
        return ResampleStatus::Refused;
    }
    if (exists && fs::is_directory(target, error)) {
        report(std::string(kResampleCannotOpenOutput) + "\n" + target + ": Is a directory");
        return ResampleStatus::Refused;
    }
    if (exists && !replaceExisting) {
        report("The file " + target + " exists already and was not replaced.");
        return ResampleStatus::Failed;
    }
    const PartialPath partial = CreatePartialFile(target);
    if (!partial) {
        report(std::string(kResampleCannotOpenOutput) + "\n" + target + ": " + partial.error);
        return ResampleStatus::Failed;
    }
    CResampler resampler(settings, run);
    const ResampleStatus status = resampler.Convert(in, partial.path);
    if (status != ResampleStatus::Done) {
        fs::remove(partial.path, error);
        return status;
    }
    std::string why;
    switch (PlaceFile(partial.path, target, replaceExisting, &why)) {
    case Placement::Placed: return ResampleStatus::Done;
    case Placement::Exists: break;
    case Placement::Failed: why = FwriteErrorText(WriteStage::Closing) + why; break;
    }
    fs::remove(partial.path, error);
    report(why);
    return ResampleStatus::Failed;
}

}  // namespace kelvane
