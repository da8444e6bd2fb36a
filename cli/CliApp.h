#pragma once
// kelvane-cli: the batch tool's commands.
//
// Exit statuses: 0 done, 1 failed, 2 refused input or bad arguments,
// 130 interrupted.

namespace kelvane {

int RunCli(int argc, char** argv);

// True once the run has been asked to stop (SIGINT, SIGTERM).
bool CliInterrupted();

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitRefused = 2;
inline constexpr int kExitInterrupted = 130;

}  // namespace kelvane
