#include "cli/CliApp.h"
#include "cli/CliCommands.h"
#include "cli/TerminalText.h"
#include "document/CQuillon3Doc.h"
#include "output/CResampler.h"

#include <cstdio>

namespace kelvane {

ResampleSettings ResampleSettingsFor(CQuillon3Doc& doc, const CliArgs& args)
{
    // The stored choices of the "Resample Settings" dialog, with what the
    // flags say on top; --no-settings starts from the defaults.
    ResampleSettings s = ResampleSettings::FromSettings(doc.Settings());
    if (args.resampleRate) s.rate = *args.resampleRate;
    if (args.resampleBits) s.bits = *args.resampleBits;
    if (args.dither) s.dither = *args.dither;
    if (args.ditherPdf) s.pdf = *args.ditherPdf;
    if (args.twoPass) s.twoPass = true;
    return s;
}

OpResult RunResample(CQuillon3Doc& doc, const CliArgs& args)
{
    const ResampleSettings settings = ResampleSettingsFor(doc, args);
    const ResampleRun run{&doc.Ui(), nullptr, [] { return CliInterrupted(); }};
    switch (ResampleToFile(args.file, args.output, settings, run, args.overwrite)) {
    case ResampleStatus::Done:
        std::printf("Wrote %s\n", Printable(args.output).c_str());
        return OpResult::Success();
    case ResampleStatus::Refused: return OpResult::Fail(FailKind::BadInput, "");
    case ResampleStatus::Cancelled: return OpResult::Fail(FailKind::Cancelled, "");
    case ResampleStatus::Failed: break;
    }
    return OpResult::Fail(FailKind::Environment, "");
}

}  // namespace kelvane
