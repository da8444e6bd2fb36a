#pragma once
// What the fuzz targets share: a silent user and a scratch file.

#include "document/CProgressWnd.h"
#include "document/Interaction.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvane::fuzz {

// Answers every question the way that keeps going, shows nothing.
class CSilentInteraction final : public IInteraction {
public:
    using IInteraction::MessageBox;  // the labelled box answers the same
    MbAnswer MessageBox(std::string_view, std::string_view, MbButtons buttons, MbIcon) override
    {
        switch (buttons) {
        case MbButtons::Ok: return MbAnswer::Ok;
        case MbButtons::OkCancel: return MbAnswer::Cancel;
        case MbButtons::YesNo: return MbAnswer::No;
        case MbButtons::YesNoCancel: return MbAnswer::Cancel;
        }
        return MbAnswer::Ok;
    }
    std::unique_ptr<CProgressWnd> CreateProgress(bool) override { return std::make_unique<CProgressWnd>(); }
};

// A per-process scratch folder; the returned path is `name` inside it.
std::string ScratchFile(const std::string& name);

// Writes data to path (truncating).
bool WriteFile(const std::string& path, const uint8_t* data, size_t size);

// True when the file at path still holds exactly data.
bool Unchanged(const std::string& path, const uint8_t* data, size_t size);

// True when the scratch folder holds nothing but the targets' input files
// ("input.*", "header.wav", "settings.ini"): no scratch file, no lock file.
bool OnlyInputsLeft();

}  // namespace kelvane::fuzz
