#include "ExternalEncoder.h"

#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "settings/SettingsStore.h"

#include <vector>

namespace kelvane {

namespace {

ResolvedEncoder Refuse(CQuillon3Doc& doc, EncoderProblem problem, const std::string& text)
{
    doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Error);
    return {OpResult::Fail(FailKind::BadInput, text), problem, {}};
}

}  // namespace

ResolvedEncoder ResolveEncoder(CQuillon3Doc& doc, const EncoderRequest& request)
{
    const std::string& program = request.program;
    std::optional<EncoderEntry> entry;
    if (program.find('/') != std::string::npos) {
        if (!IsExecutableProgram(program))
            return Refuse(doc, EncoderProblem::NotAProgram,
                          "The encoder " + program + " is not a program that can be run.");
        entry = EncoderEntry{program, "", ""};
    } else {
        std::vector<EncoderEntry> list;
        if (request.useStored) list = RefreshEncoderList(doc.Settings(), nullptr, request.pathVariable);
        else SearchPathFolders(list, request.pathVariable);
        for (const EncoderEntry& e : list)
            if (ProgramKey(e.path) == ProgramKey(program)) entry = e;
        if (!entry) {
            if (const std::string found = FindProgramInPath(program, request.pathVariable); !found.empty())
                entry = EncoderEntry{found, "", ""};
        }
        if (!entry) return Refuse(doc, EncoderProblem::NotFound, "No encoder " + program + " was found.");
    }
    EncoderEntry out = *entry;
    const KnownEncoder* known = FindKnownEncoder(out.path);
    // The command line last chosen for this encoder is its current one.
    const std::string stored = doc.Settings().Get(settings::Parameters);
    if (request.command) out.command = *request.command;
    else if (request.useStored && ProgramKey(doc.Settings().Get(settings::Encoder)) == ProgramKey(out.path) &&
             ValidCommandLine(stored))
        out.command = stored;
    else if (out.command.empty() && known) out.command = known->command;
    if (request.extension) out.ext = *request.extension;
    else if (out.ext.empty() && known) out.ext = known->ext;
    if (out.command.empty())
        return Refuse(doc, EncoderProblem::NoCommandLine,
                      out.path + " is not a known encoder: its command line is needed.");
    if (!ValidCommandLine(out.command))
        return Refuse(doc, EncoderProblem::BadCommandLine,
                      std::string(kInvalidParameters) + "\nThe command line must hold %IN.");
    if (out.ext.empty())
        return Refuse(doc, EncoderProblem::NoExtension,
                      out.path + " is not a known encoder: the extension of its files is needed.");
    return {OpResult::Success(), EncoderProblem::None, out};
}

}  // namespace kelvane
