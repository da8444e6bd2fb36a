#pragma once
// Choosing the external encoder that a save hands its tracks to: the program
// file, its command line and the extension of its files, from what the user
// named and from what the settings remember.

#include "document/ImportResult.h"
#include "output/EncoderList.h"

#include <optional>
#include <string>

namespace kelvane {

class CQuillon3Doc;

struct EncoderRequest {
    // A path, or a name looked up as the program does at start (the encoder
    // list, its search folder and PATH), then as any program in PATH.
    std::string program;
    // Given for this save; otherwise the command line last chosen for this
    // encoder, else the known encoder's. The same for the extension.
    std::optional<std::string> command, extension;
    // Off: neither the stored encoder list and its folder nor the stored
    // command line are used (a run that leaves the settings alone).
    bool useStored = true;
    const char* pathVariable = nullptr;  // the PATH to search
};

// What stood in the way, so a front end can say how to give what is missing.
enum class EncoderProblem { None, NotAProgram, NotFound, NoCommandLine, BadCommandLine, NoExtension };

struct ResolvedEncoder {
    OpResult result;  // BadInput, shown to the user, for every problem
    EncoderProblem problem = EncoderProblem::None;
    EncoderEntry entry;
};

ResolvedEncoder ResolveEncoder(CQuillon3Doc& doc, const EncoderRequest& request);

}  // namespace kelvane
