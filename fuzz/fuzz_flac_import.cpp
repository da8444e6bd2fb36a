// Fuzzes the import of a FLAC file: libFLAC's callbacks as the import drives
// them (metadata, every frame, the error and read callbacks), the damage and
// length checks, the decoded copy, the load pass over it and the clean-up.
// Damaged input is taken both ways: refused, and accepted as decoded. The
// input must come out untouched and no scratch file may be left behind.

#include "FuzzSupport.h"
#include "document/CImporter.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kelvane;
    static const std::string path = fuzz::ScratchFile("input.flac");
    if (!fuzz::WriteFile(path, data, size)) return 0;

    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    fuzz::CSilentInteraction ui;
    for (bool acceptDamaged : {false, true}) {
        CQuillon3Doc doc(settings, ui);
        CImporter importer(doc);
        importer.SetAcceptDamaged(acceptDamaged);
        if (OpenRecording(doc, path, &importer).Ok()) LoadRecording(doc, nullptr);
        doc.DeleteContents();
    }
    if (!fuzz::Unchanged(path, data, size) || !fuzz::OnlyInputsLeft()) std::abort();
    return 0;
}
