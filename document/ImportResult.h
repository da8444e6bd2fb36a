#pragma once
// How an operation ended: an import, the processing of a recording, a save.
// The user has already been told why through the interaction interface; the
// kind lets a caller tell refused input from trouble in the environment or
// from the user's own choice (the batch tool maps them to its exit statuses).

#include <string>
#include <utility>

namespace kelvane {

enum class FailKind {
    None,
    BadInput,     // the file, or what was asked of it, is not one we can process: refused
    Environment,  // disk space, permissions, a file that cannot be created, read or written
    NoSpace,      // too little room for the tracks to be saved: nothing was written
    Cancelled,    // the user stopped it while it ran
    Declined,     // the user answered a question with the choice that ends the operation
    Internal,
};

struct OpResult {
    FailKind kind = FailKind::None;
    // The text the user was shown; for Declined, the question.
    std::string message;
    // Refused for damage that a caller accepting damaged input would have
    // let through (the batch tool then names its option for that).
    bool damaged = false;

    bool Ok() const { return kind == FailKind::None; }
    static OpResult Success() { return {}; }
    static OpResult Fail(FailKind kind, std::string message) { return {kind, std::move(message)}; }
};

}  // namespace kelvane
