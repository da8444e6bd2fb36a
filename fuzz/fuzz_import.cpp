// Fuzzes the whole import of a small file: header, working file, load pass,
// block statistics and clean-up. The input must come out untouched and no
// working file may be left behind.

#include "FuzzSupport.h"
#include "document/CQuillon3Doc.h"
#include "document/DocumentOpen.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kelvane;
    static const std::string path = fuzz::ScratchFile("input.wav");
    if (!fuzz::WriteFile(path, data, size)) return 0;

    CMemorySettings settings;
    settings.Set(settings::TempMode, settings::kTempModeSameFolder);
    fuzz::CSilentInteraction ui;
    {
        CQuillon3Doc doc(settings, ui);
        if (OpenRecording(doc, path).Ok()) {
            LoadRecording(doc, nullptr);
        }
        doc.DeleteContents();
    }

    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (after.size() != size || !std::equal(after.begin(), after.end(), data)) std::abort();
    const auto dir = std::filesystem::path(path).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename() != "input.wav" && entry.path().filename() != "header.wav") std::abort();
    return 0;
}
