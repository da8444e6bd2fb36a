#include "settings/SettingsFileText.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>

namespace kelvane {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of `digits` hex digits at text[at], or -1.
long HexAt(std::string_view text, size_t at, size_t digits)
{
    if (at + digits > text.size()) return -1;
    long value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int d = HexValue(text[at + i]);
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A section or key name as the reader decodes it: "%XX" a Latin-1
// character, "%UXXXX" a UTF-16 unit, "\" the group separator "/".
std::string DecodeName(std::string_view raw)
{
    const std::string_view text = Trim(raw);
    std::string name;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\\') {
            name += '/';
            ++i;
        } else if (c == '%' && i + 1 < text.size() && text[i + 1] == 'U' && HexAt(text, i + 2, 4) >= 0) {
            AppendUtf8(name, static_cast<uint32_t>(HexAt(text, i + 2, 4)));
            i += 6;
        } else if (c == '%' && HexAt(text, i + 1, 2) >= 0) {
            AppendUtf8(name, static_cast<uint32_t>(HexAt(text, i + 1, 2)));
            i += 3;
        } else {
            name += c;
            ++i;
        }
    }
    return name;
}

std::string SectionName(std::string_view line)
{
    std::string_view inside = Trim(line);
    inside.remove_prefix(1);  // "["
    inside = inside.substr(0, inside.find(']'));
    // The top level is written as "[General]"; a section really called
    // General as "[%General]".
    if (Trim(inside) == "%General") return "General";
    std::string name = DecodeName(inside);
    return name == "General" ? std::string() : name;
}

// A final backslash (one not itself escaped) continues the line.
bool Continues(std::string_view line)
{
    size_t count = 0;
    while (count < line.size() && line[line.size() - 1 - count] == '\\') ++count;
    return count % 2 == 1;
}

bool Kept(SettingsLine::Kind kind)
{
    return kind == SettingsLine::Kind::Comment || kind == SettingsLine::Kind::Unreadable;
}

}  // namespace

bool SettingsText::HasKeptLines() const
{
    for (const SettingsLine& line : lines)
        if (Kept(line.kind)) return true;
    return false;
}

SettingsText ReadSettingsText(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte order mark
    std::vector<std::string_view> physical;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        physical.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }

    SettingsText result;
    std::string section;
    for (size_t i = 0; i < physical.size(); ++i) {
        SettingsLine line;
        line.number = i + 1;
        line.text = std::string(physical[i]);
        const std::string_view trimmed = Trim(physical[i]);
        const char first = trimmed.empty() ? '\0' : trimmed.front();
        if (first == ';') {
            line.kind = SettingsLine::Kind::Comment;
        } else {
            while (Continues(physical[i]) && i + 1 < physical.size()) {
                ++i;
                line.text += '\n';
                line.text += physical[i];
            }
            const size_t equals = line.text.find('=');
            if (Trim(line.text).empty()) {
                line.kind = SettingsLine::Kind::Blank;
            } else if (first == '[') {
                line.kind = SettingsLine::Kind::Section;
                section = SectionName(line.text);
            } else if (equals != std::string::npos) {
                line.kind = SettingsLine::Kind::Value;
                line.key = DecodeName(std::string_view(line.text).substr(0, equals));
            } else if (first == '#') {
                line.kind = SettingsLine::Kind::Comment;
            } else {
                line.kind = SettingsLine::Kind::Unreadable;
                result.unreadable.push_back(line.number);
            }
        }
        line.section = section;
        result.lines.push_back(std::move(line));
    }
    return result;
}

std::string RestoreKeptLines(const SettingsText& before, std::string_view writtenText)
{
    if (!before.HasKeptLines()) return std::string(writtenText);
    const SettingsText written = ReadSettingsText(writtenText);
    if (written.HasKeptLines()) return std::string(writtenText);

    using Kind = SettingsLine::Kind;
    const size_t count = written.lines.size();
    std::map<std::string, size_t> headerAt;
    std::map<std::pair<std::string, std::string>, size_t> valueAt;
    std::map<std::string, size_t> sectionEnd;  // after its last header or value line
    for (size_t i = 0; i < count; ++i) {
        const SettingsLine& line = written.lines[i];
        if (line.kind == Kind::Section) {
            headerAt.emplace(line.section, i);
            sectionEnd[line.section] = i + 1;
        } else if (line.kind == Kind::Value) {
            valueAt.emplace(std::make_pair(line.section, line.key), i);
            sectionEnd[line.section] = i + 1;
        }
    }

    std::vector<std::vector<const std::string*>> insertBefore(count + 1);
    std::vector<std::pair<std::string, std::vector<const std::string*>>> orphans;
    bool preamble = true;
    for (size_t k = 0; k < before.lines.size(); ++k) {
        const SettingsLine& line = before.lines[k];
        if (line.kind == Kind::Section || line.kind == Kind::Value) preamble = false;
        if (!Kept(line.kind)) continue;
        if (preamble) {
            insertBefore[0].push_back(&line.text);
            continue;
        }
        size_t where = std::string::npos;
        for (size_t m = k + 1; m < before.lines.size(); ++m) {
            const SettingsLine& next = before.lines[m];
            if (next.kind == Kind::Section) {
                if (auto it = headerAt.find(next.section); it != headerAt.end()) where = it->second;
                break;
            }
            if (next.kind == Kind::Value) {
                if (auto it = valueAt.find({next.section, next.key}); it != valueAt.end()) where = it->second;
                break;
            }
        }
        if (where == std::string::npos) {
            if (auto it = sectionEnd.find(line.section); it != sectionEnd.end()) where = it->second;
            else if (line.section.empty()) where = 0;
        }
        if (where != std::string::npos) {
            insertBefore[where].push_back(&line.text);
            continue;
        }
        auto group = orphans.begin();
        while (group != orphans.end() && group->first != line.section) ++group;
        if (group == orphans.end()) group = orphans.insert(orphans.end(), {line.section, {}});
        group->second.push_back(&line.text);
    }

    std::string out;
    out.reserve(writtenText.size() + 256);
    for (size_t i = 0; i <= count; ++i) {
        for (const std::string* text : insertBefore[i]) out += *text + '\n';
        if (i < count) out += written.lines[i].text + '\n';
    }
    for (const auto& [section, texts] : orphans) {
        std::string header = "[" + section + "]";
        for (const SettingsLine& line : before.lines) {
            if (line.kind == Kind::Section && line.section == section) {
                header = line.text;
                break;
            }
        }
        out += '\n' + header + '\n';
        for (const std::string* text : texts) out += *text + '\n';
    }
    return out;
}

std::string LineNumbersText(const std::vector<size_t>& numbers)
{
    if (numbers.empty()) return {};
    if (numbers.size() == 1) return "line " + std::to_string(numbers[0]);
    constexpr size_t kShown = 5;
    std::string text = "lines ";
    const size_t shown = std::min(numbers.size(), kShown);
    for (size_t i = 0; i < shown; ++i) {
        if (i > 0) text += (i + 1 == shown && numbers.size() <= kShown) ? " and " : ", ";
        text += std::to_string(numbers[i]);
    }
    if (numbers.size() > kShown) text += " and " + std::to_string(numbers.size() - kShown) + " more";
    return text;
}

}  // namespace kelvane
