#include "cli/CliCommands.h"

#include "cli/Report.h"
#include "cli/TerminalText.h"
#include "document/CImporter.h"
#include "document/CQuillon3Doc.h"
#include "document/ScratchFiles.h"
#include "operations/ProcessRecording.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace kelvane {

void ReclaimScratchFiles(CQuillon3Doc& doc, const CliArgs& args)
{
    namespace fs = std::filesystem;
    const auto orHere = [](std::string folder) { return folder.empty() ? std::string(".") : folder; };
    std::vector<std::string> folders{orHere(fs::path(args.file).parent_path().string()),
                                     orHere(CImporter::ScratchFolder(args.file, doc.Settings().Get(settings::TempMode),
                                                                     doc.Settings().Get(settings::TempPath)))};
    if (args.outDir) folders.push_back(orHere(*args.outDir));
    std::vector<std::string> done;
    for (const std::string& folder : folders) {
        std::error_code ec;
        const bool seen = std::any_of(done.begin(), done.end(),
                                      [&](const std::string& d) { return fs::equivalent(d, folder, ec); });
        if (seen || !fs::is_directory(folder, ec)) continue;
        done.push_back(folder);
        for (const std::string& path : ReclaimDeadScratchFiles(folder))
            std::cerr << "kelvane-cli: removed " << Printable(path) << ", a scratch file left by a run that has ended\n";
    }
}

std::vector<std::string> WithLockFiles(std::vector<std::string> names)
{
    const size_t count = names.size();
    for (size_t i = 0; i < count; ++i)
        if (!names[i].empty()) names.push_back(names[i] + kScratchLockSuffix);
    return names;
}

std::vector<std::string> PredictedScratchFiles(CQuillon3Doc& doc, const CliArgs& args)
{
    namespace fs = std::filesystem;
    const int tempMode = doc.Settings().Get(settings::TempMode);
    const std::string tempPath = doc.Settings().Get(settings::TempPath);
    std::vector<std::string> names;
    std::string source = args.file;
    const size_t extension = PathTail(args.file, 5) == ".flac" ? 5 : PathTail(args.file, 4) == ".ape" ? 4 : 0;
    if (extension != 0) {
        // The decoded copy goes where the working copy goes.
        const fs::path folder = fs::path(CImporter::WorkingFilePath(args.file, tempMode, tempPath)).parent_path();
        source = (folder / ReplaceTail(fs::path(args.file).filename().string(), extension, ".tmp")).string();
        names.push_back(source);
    }
    names.push_back(CImporter::WorkingFilePath(source, tempMode, tempPath));
    return WithLockFiles(names);
}

OpResult RunInfo(CQuillon3Doc& doc, const CliArgs& args)
{
    ReclaimScratchFiles(doc, args);
    const OpResult r = OpenRecordingFile(doc, {args.file, args.acceptDamaged, nullptr});
    if (r.damaged) std::cerr << "kelvane-cli: --accept-damaged imports it anyway, with its bad frames as decoded\n";
    if (!r.Ok()) return r;
    if (args.json) {
        WriteInfoJson(std::cout, doc);
    } else {
        static const char* kinds[] = {"WAV", "Monkey's Audio", "FLAC", "merged WAV files", "mono WAV widened to stereo"};
        // Tags and names come from files: shown, never obeyed by the terminal.
        std::printf("File:           %s\n", Printable(args.file).c_str());
        std::printf("Source kind:    %d (%s)\n", doc.sourceKind, kinds[doc.sourceKind]);
        std::printf("Sample rate:    %d Hz\n", doc.sampleRate);
        std::printf("Bits:           %d\n", doc.bitsPerSample);
        std::printf("dataStart:      %d\n", doc.dataStart);
        std::printf("dataEnd:        %d\n", doc.dataEnd);
        std::printf("dataAlign:      %d\n", doc.dataAlign);
        std::printf("trailerBytes:   %d\n", doc.trailerBytes);
        std::printf("Duration:       %.3f s\n", DurationSeconds(doc));
        std::printf("Title:          %s\n", Printable(doc.inputTags.title).c_str());
        std::printf("Artist:         %s\n", Printable(doc.inputTags.artist).c_str());
        std::printf("Album:          %s\n", Printable(doc.inputTags.album).c_str());
        std::printf("Genre:          %s\n", Printable(doc.inputTags.genre).c_str());
        std::printf("Track:          %s\n", Printable(doc.inputTrackNumber).c_str());
    }
    doc.DeleteContents();
    return r;
}

}  // namespace kelvane
