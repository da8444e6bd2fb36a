#pragma once
// How an operation that reads the user's input ended. The user has already
// been told why through the interaction interface; the kind lets a caller
// tell refused input from trouble in the environment (the batch tool maps
// them to different exit statuses).

#include <string>
#include <utility>

namespace kelvane {

enum class FailKind {
    None,
    BadInput,     // the file is not one we can process: refused
    Environment,  // disk space, permissions, a file that cannot be created
    Cancelled,    // the user stopped it
    Internal,
};

struct OpResult {
    FailKind kind = FailKind::None;
    std::string message;  // the text the user was shown
    // Refused for damage that a caller accepting damaged input would have
    // let through (the batch tool then names its option for that).
    bool damaged = false;

    bool Ok() const { return kind == FailKind::None; }
    static OpResult Success() { return {}; }
    static OpResult Fail(FailKind kind, std::string message) { return {kind, std::move(message)}; }
};

}  // namespace kelvane
