#include "output/TrackTags.h"

#include "document/CQuillon3Doc.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace kelvane {

namespace {

// Vorbis comment fields of FLAC files are limited so that old players with
// fixed buffers read them whole.
constexpr size_t kFlacTextBytes = 255;

void AddIfPresent(EncoderTags& tags, const char* name, const std::string& value)
{
    if (!value.empty()) tags.emplace_back(name, ToUtf8(value));
}

// The leading number of text, as the C library's atoi reads it ("3/12" is
// 3); 0 when there is none or it does not fit.
int32_t LeadingNumber(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    int32_t value = 0;
    const auto [ptr, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    (void)ptr;
    return error == std::errc() ? value : 0;
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

std::string TagNumberText(int32_t number, const std::string& inputTrackNumber)
{
    return number > 0 ? std::to_string(number) : inputTrackNumber;
}

// Length of the valid UTF-8 sequence at text[i], or 0 when there is none
// (a stray continuation byte, an overlong form, a surrogate, a value past
// U+10FFFF or a sequence cut short).
size_t Utf8SequenceAt(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    if (b < 0x80) return 1;
    size_t n = 0;
    uint32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) n = 2, cp = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF) n = 3, cp = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4) n = 4, cp = b & 0x07;
    else return 0;
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

std::string ToUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (const size_t n = Utf8SequenceAt(text, i)) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        // Not UTF-8: the byte is a Latin-1 character.
        const auto b = static_cast<unsigned char>(text[i++]);
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
    }
    return out;
}

std::string TruncateUtf8(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes) return text;
    size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the cut sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

EncoderTags FlacTags(const CQuillon3Doc& doc, int32_t track, int32_t number)
{
    const TrackRecord& t = doc.tracks.At(track);
    const auto text = [](const std::string& value) { return TruncateUtf8(ToUtf8(value), kFlacTextBytes); };
    EncoderTags tags{
        {"TITLE", text(t.title)},
        {"ARTIST", text(t.artist)},
        {"ALBUM", text(t.album)},
        {"TRACKNUMBER", text(TagNumberText(number, doc.inputTrackNumber))},
        {"GENRE", text(t.genre)},
    };
    if (doc.sourceKind == kSourceFlac) {
        for (const std::string& comment : doc.passedOnComments) {
            const size_t eq = comment.find('=');
            std::string name = comment.substr(0, eq);
            std::string value;
            if (eq != std::string::npos)
                for (const char c : std::string_view(comment).substr(eq + 1))
                    if (c != '"') value += c;
            tags.emplace_back(ToUtf8(name), ToUtf8(value));
        }
    }
    return tags;
}

EncoderTags OggTags(const CQuillon3Doc& doc, int32_t track, int32_t number)
{
    const TrackRecord& t = doc.tracks.At(track);
    EncoderTags tags;
    AddIfPresent(tags, "Album", t.album);
    AddIfPresent(tags, "Title", t.title);
    AddIfPresent(tags, "Artist", t.artist);
    AddIfPresent(tags, "Genre", t.genre);
    const int32_t n = number > 0 ? number : LeadingNumber(doc.inputTrackNumber);
    tags.emplace_back("TrackNumber", n > 0 ? std::to_string(n) : std::string());
    return tags;
}

EncoderTags ApeTags(const CQuillon3Doc& doc, int32_t track, int32_t number)
{
    const TrackRecord& t = doc.tracks.At(track);
    EncoderTags tags;
    AddIfPresent(tags, "Album", t.album);
    AddIfPresent(tags, "Title", t.title);
    AddIfPresent(tags, "Artist", t.artist);
    AddIfPresent(tags, "Genre", t.genre);
    tags.emplace_back("Track", ToUtf8(TagNumberText(number, doc.inputTrackNumber)));
    return tags;
}

EncoderTags ExternalEncoderValues(const CQuillon3Doc& doc, int32_t track, int32_t number)
{
    const TrackRecord& t = doc.tracks.At(track);
    return {
        {"%A", t.artist},
        {"%T", t.title},
        {"%L", t.album},
        {"%G", t.genre},
        {"%N", TagNumberText(number, doc.inputTrackNumber)},
    };
}

std::vector<uint8_t> BuildApeTag(const EncoderTags& fields)
{
    static constexpr uint32_t kVersion = 2000;
    static constexpr uint32_t kFooterBytes = 32;
    static constexpr uint32_t kFlagsHasFooter = 0x40000000;

    std::vector<uint8_t> tag;
    for (const auto& [key, value] : fields) {
        PutLe32(tag, static_cast<uint32_t>(value.size()));
        PutLe32(tag, 0);
        tag.insert(tag.end(), key.begin(), key.end());
        tag.push_back(0);
        tag.insert(tag.end(), value.begin(), value.end());
    }
    const uint32_t size = static_cast<uint32_t>(tag.size()) + kFooterBytes;
    static constexpr char kPreamble[] = "APETAGEX";
    tag.insert(tag.end(), kPreamble, kPreamble + 8);
    PutLe32(tag, kVersion);
    PutLe32(tag, size);
    PutLe32(tag, static_cast<uint32_t>(fields.size()));
    PutLe32(tag, kFlagsHasFooter);
    tag.insert(tag.end(), 8, 0);
    return tag;
}

}  // namespace kelvane
