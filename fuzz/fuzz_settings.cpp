// Fuzzes the reading of the settings file: every declared setting read from
// arbitrary bytes, then a save (which writes the file again and must keep
// the lines it could not read), and a second store reading the result.

#include "FuzzSupport.h"
#include "settings/QtSettingsStore.h"
#include "settings/SettingsStore.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kelvane;
    static const std::string path = fuzz::ScratchFile("settings.ini");
    if (!fuzz::WriteFile(path, data, size)) return 0;

    auto readAll = [](const ISettingsStore& store) {
        for (const IntSetting& s : {settings::Sensitivity, settings::SplitTracks, settings::Mode, settings::TempMode,
                                    settings::FadeLinear, settings::FileType, settings::ExternalIndex})
            (void)store.Get(s);
        for (const StringSetting& s : {settings::TempPath, settings::OutputPath, settings::PathName})
            (void)store.Get(s);
    };
    {
        CQtSettingsStore store(path);
        readAll(store);
        (void)store.Problem();
        store.Set(settings::TempMode, settings::kTempModeUser);
        store.Set(settings::TempPath, "/scratch/side A");
        // Whatever happened to the file, this store answers what it was told.
        if (store.Get(settings::TempMode) != settings::kTempModeUser) std::abort();
        if (store.Get(settings::TempPath) != "/scratch/side A") std::abort();
    }
    {
        CQtSettingsStore again(path);
        readAll(again);
    }
    return 0;
}
