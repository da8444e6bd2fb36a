#include "output/OutputNames.h"

#include "document/CQuillon3Doc.h"
#include "output/MakeTrackName.h"
#include "settings/SettingsStore.h"
#include "tracks/TrackTitles.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

std::string OutputExtension(int fileType, bool external, const std::string& encoderExtension)
{
    if (external) return "." + encoderExtension;
    switch (fileType) {
        case kFileTypeApe: return ".ape";
        case kFileTypeOgg: return ".ogg";
        case kFileTypeFlac: return ".flac";
        default: return ".wav";
    }
}

std::string FolderOfPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string OutputFolder(const ISettingsStore& settings, const std::string& inputPath)
{
    std::string folder = settings.Get(settings::OutputPath);
    if (folder.empty()) return FolderOfPath(inputPath);
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string OutputFolder(CQuillon3Doc& doc)
{
    return OutputFolder(doc.Settings(), doc.userPath);
}

bool LiesInside(const std::string& folder, const std::string& path)
{
    const fs::path base = fs::path(folder.empty() ? "." : folder).lexically_normal();
    const fs::path target = fs::path(path).lexically_normal();
    if (base.is_absolute() != target.is_absolute()) return false;
    const fs::path rel = target.lexically_relative(base);
    if (rel.empty() || rel == ".") return false;
    return *rel.begin() != "..";
}

std::optional<std::string> OutputFilePath(const std::string& folder, const std::string& name,
                                          const std::string& extension)
{
    std::string path = folder + SafeRelativeName(name) + extension;
    // The sanitised name cannot climb, but the extension comes from the
    // encoder list, and a path is only as safe as its last check.
    const std::string relative = path.substr(folder.size());
    size_t begin = 0;
    while (begin <= relative.size()) {
        size_t end = relative.find('/', begin);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(begin, end - begin);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
        begin = end + 1;
    }
    if (!LiesInside(folder, path)) return std::nullopt;
    return path;
}

std::vector<int32_t> AssignTrackNumbers(const std::vector<bool>& selected, int32_t start, bool consecutive)
{
    start = std::max<int32_t>(start, 1);
    std::vector<int32_t> numbers(selected.size(), 0);
    int32_t k = 0;
    for (size_t i = 0; i < selected.size(); ++i) {
        if (consecutive) {
            if (selected[i]) numbers[i] = start + k++;
        } else {
            numbers[i] = start + static_cast<int32_t>(i);
        }
    }
    return numbers;
}

OutputNames RefreshOutputNames(const CQuillon3Doc& doc, const OutputNameRequest& request)
{
    static constexpr const char* kUnknownWords[] = {"Unknown Title", "Unknown Artist", "Unknown Genre",
                                                    "Unknown Album"};
    OutputNames out;
    const std::string base = InputBaseName(doc);
    std::set<std::string> seen;
    for (const OutputLine& line : request.lines) {
        if (!line.selected) continue;
        const int32_t number = std::max<int32_t>(line.number, 0);
        const std::string name = MakeTrackName(request.rule, doc.tracks.At(line.track), number, base);
        out.tracks.push_back(line.track);
        out.numbers.push_back(number);

        for (const char* word : kUnknownWords)
            if (name.find(word) != std::string::npos) out.unknownTags = true;

        const std::optional<std::string> path = OutputFilePath(request.folder, name, request.extension);
        std::string shown = SafeRelativeName(name) + request.extension;
        if (!path) {
            out.outsideFolder = true;
            out.shown.push_back(shown);
            out.paths.emplace_back();
            continue;
        }
        std::error_code error;
        if (fs::exists(fs::path(*path), error)) {
            shown.insert(0, "*");
            out.note = kFileExistsNote;
        }
        if (!seen.insert(*path).second) out.duplicates = true;
        out.shown.push_back(shown);
        out.paths.push_back(*path);
    }
    return out;
}

}  // namespace kelvane
