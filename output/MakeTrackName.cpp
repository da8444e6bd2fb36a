#include "output/MakeTrackName.h"

#include "document/CQuillon3Doc.h"
#include "document/TrackRecord.h"
#include "tracks/TrackTitles.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace kelvane {

namespace {

// Replaces every occurrence, left to right, never rescanning inserted text
// (so "%album" replacing "album" cannot loop).
void ReplaceAll(std::string& text, std::string_view from, std::string_view to)
{
    if (from.empty()) return;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

const std::string& OrUnknown(const std::string& text, const std::string& unknown)
{
    return text.empty() ? unknown : text;
}

}  // namespace

std::string FileNumberText(int32_t number)
{
    if (number <= 0) return "  ";
    char text[16];
    std::snprintf(text, sizeof text, "%02d", static_cast<int>(number));
    return text;
}

std::string MakeTrackName(const std::string& rule, const TrackRecord& track, int32_t number,
                          const std::string& baseName)
{
    static constexpr std::array<std::array<std::string_view, 5>, 3> kWords{{
        {"album", "genre", "title", "artist", "input"},
        {"Album", "Genre", "Title", "Artist", "Input"},
        {"ALBUM", "GENRE", "TITLE", "ARTIST", "INPUT"},
    }};
    static constexpr std::array<std::string_view, 5> kPlaceholders{"%album", "%genre", "%title", "%artist",
                                                                   "%input"};

    std::string name = rule;
    for (const auto& spelling : kWords)
        for (size_t i = 0; i < spelling.size(); ++i) ReplaceAll(name, spelling[i], kPlaceholders[i]);

    static const std::string kUnknownAlbum = "Unknown Album";
    static const std::string kUnknownGenre = "Unknown Genre";
    static const std::string kUnknownTitle = "Unknown Title";
    static const std::string kUnknownArtist = "Unknown Artist";
    ReplaceAll(name, "%album", OrUnknown(track.album, kUnknownAlbum));
    ReplaceAll(name, "%genre", OrUnknown(track.genre, kUnknownGenre));
    ReplaceAll(name, "%title", OrUnknown(track.title, kUnknownTitle));
    ReplaceAll(name, "%artist", OrUnknown(track.artist, kUnknownArtist));
    ReplaceAll(name, "%input", baseName);
    ReplaceAll(name, "#", FileNumberText(number));

    for (char& c : name) {
        switch (c) {
            case '<': case '>': case ':': case '"': case '/': case '|': case '*': case '?':
                c = '-';
                break;
            default:
                break;
        }
    }
    return name;
}

std::string MakeTrackName(const CQuillon3Doc& doc, const std::string& rule, int32_t track, int32_t number)
{
    return MakeTrackName(rule, doc.tracks.At(track), number, InputBaseName(doc));
}

std::string SafeRelativeName(const std::string& name)
{
    std::string result;
    size_t begin = 0;
    while (begin <= name.size()) {
        size_t end = name.find('\\', begin);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty()) continue;
        if (part == ".") part = "-";
        else if (part == "..") part = "--";
        for (char& c : part)
            if (c == '\0' || c == '/') c = '-';
        if (!result.empty()) result += '/';
        result += part;
    }
    return result.empty() ? std::string("-") : result;
}

}  // namespace kelvane
