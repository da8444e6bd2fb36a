// Fuzzes the import of a Monkey's Audio file: the APEv2 tag parser on its
// own, then the whole import through libav's demuxer and decoder callbacks
// (the decode into the scratch copy, the damage reports), the load pass and
// the clean-up. The input must come out untouched and no scratch file may
// be left behind.

#include "FuzzSupport.h"
#include "document/CApeDecoder.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kelvane;
    static const std::string path = fuzz::ScratchFile("input.ape");
    if (!fuzz::WriteFile(path, data, size)) return 0;

    std::vector<std::pair<std::string, std::string>> fields;
    if (CApeDecoder::ReadTagFields(path, fields)) {
        for (const auto& [key, value] : fields) {
            // Keys are printable ASCII of 2..255 characters; values are text.
            if (key.size() < 2 || key.size() > 255) std::abort();
            if (value.size() > size) std::abort();
        }
    }

    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    fuzz::CSilentInteraction ui;
    {
        CQuillon3Doc doc(settings, ui);
        if (OpenRecording(doc, path).Ok()) LoadRecording(doc, nullptr);
        doc.DeleteContents();
    }
    if (!fuzz::Unchanged(path, data, size) || !fuzz::OnlyInputsLeft()) std::abort();
    return 0;
}
