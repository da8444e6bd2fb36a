#pragma once
// The settings file as text, line by line, the way the INI reader of the
// settings store takes it. That reader (QSettings) writes the whole file
// again from the values it understood on every save, so comments and lines
// it cannot read would silently vanish from a file the user edited by hand.
// The store reads the lines here before a save and puts the ones the save
// dropped back afterwards, each before the line it stood before.
//
// Plain C++, no Qt: the reader is also run under the fuzzer.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

struct SettingsLine {
    enum class Kind {
        Blank,
        Comment,     // ";" first, or "#" first without "=": kept, not read
        Section,     // "[name]"
        Value,       // "name=value", with any lines continued by a final "\"
        Unreadable,  // none of these: kept, not read, and reported
    };
    Kind kind = Kind::Blank;
    std::string text;     // as written, without the line break (and without "\r")
    std::string section;  // Section: its name; others: the section they are in
    std::string key;      // Value: its name
    size_t number = 0;    // the first line's number, from 1
};

// Section and key names are decoded as the INI reader decodes them ("%20"
// and "%U00E9" escapes, "\" for "/"), so a hand-typed "Min Magnitude" and
// the written "Min%20Magnitude" are one name; "[General]" is the top level
// (""), as are lines before any section.
struct SettingsText {
    std::vector<SettingsLine> lines;
    std::vector<size_t> unreadable;  // line numbers of the Unreadable lines
    bool HasKeptLines() const;       // any Comment or Unreadable line
};

// Splits a settings file's text into its lines. Any bytes at all are read
// without failing; this is the entry point of the settings file fuzz target.
SettingsText ReadSettingsText(std::string_view text);

// writtenText is the file as the reader has just written it (it writes no
// comments); returned with the Comment and Unreadable lines of `before` put
// back: each before the section or value that followed it in `before`; when
// that is gone, at the end of its own section; when the section is gone
// too, under its header at the end of the file. Lines ahead of the first
// section stay at the top. A writtenText that holds comments already was
// not written by the reader, and is returned unchanged.
std::string RestoreKeptLines(const SettingsText& before, std::string_view writtenText);

// "line 3" or "lines 3, 8 and 9" (the first few), for the user.
std::string LineNumbersText(const std::vector<size_t>& numbers);

}  // namespace kelvane
