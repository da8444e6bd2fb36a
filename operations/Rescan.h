#pragma once
// Re-scan and super-scan, of the marked block or of the whole file, as both
// front ends run them: the old corrections of the block go (a re-scan), the
// block scan finds new ones for each pass, they are generated and merged
// into the correction list. The Scan Options dialog is the front end's; the
// operation takes its values.

#include "document/ImportResult.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kCaptionRescanBlock = "Re-Scan Block";
inline constexpr const char* kCaptionRescanFile = "Re-Scan for Clicks";
inline constexpr const char* kCaptionSuperScanBlock = "Super-Scan Block";
inline constexpr const char* kCaptionSuperScanFile = "Super-Scan for Clicks";
inline constexpr const char* kTextRescanBlock = "Corrections in the selected block will be deleted.\nNew corrections will be generated.";
inline constexpr const char* kTextRescanFile = "All corrections will be deleted.\nThe entire file will be re-scanned for clicks";
inline constexpr const char* kTextSuperScan =
    "New corrections will be generated and superimposed on top of existing corrections.";

struct RescanRequest {
    bool superimpose = false;  // a super-scan: a layer on top, nothing removed
    bool wholeFile = false;    // the file commands; otherwise the marked block
    // The Scan Options values; those left unset keep the document's
    // (kUseLoadSetting for the sensitivity or mode takes the load scan's).
    std::optional<int32_t> sensitivity, mode, discriminator, agc, minMagnitude, corWidth;
    // Super-scan passes, at least one; a re-scan makes one.
    int32_t passes = 1;
    // The Scan Options dialog under the operation's caption and text, which
    // may change the values above; false is Cancel. Unset: the values as given.
    std::function<bool(CQuillon3Doc&, std::string_view caption, std::string_view text, RescanRequest&)> dialog;
};

// Runs the command. BadInput: no recording, or no block for a block command
// (nothing asked). Declined: the dialog was cancelled. Cancelled: the user
// stopped a scan or a generation; what was found until then is generated
// as far as it got and merged, and no later pass runs. Environment: a file
// error the user was told about. The block command leaves the block marked
// and the record that was current current again; the file commands leave no
// block and the first record current.
OpResult Rescan(CQuillon3Doc& doc, RescanRequest request);

}  // namespace kelvane
