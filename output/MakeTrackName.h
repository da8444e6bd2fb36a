#pragma once
// File names of exported tracks, built from the user's naming rule.
//
// A rule is plain text in which the words ALBUM, GENRE, TITLE, ARTIST and
// INPUT (written all lower-case, capitalised or all upper-case) stand for the
// track's texts and the input's base name, and "#" for the track number. A
// backslash in the result separates folders below the output folder; users
// type rules that way whatever the platform, so the rule text is kept as is
// and only SafeRelativeName turns it into a path for the disk.

#include <cstdint>
#include <string>

namespace kelvane {

class CQuillon3Doc;
struct TrackRecord;

// The number part of a file name: at least two digits ("03", "112"), or two
// blanks when the track gets no number (number 0 or less).
std::string FileNumberText(int32_t number);

// The file name without extension for one track, backslashes kept. Empty
// texts of the track read "Unknown Album", "Unknown Genre", "Unknown Title"
// and "Unknown Artist"; baseName stands for INPUT. The placeholders are
// filled one after the other (album, genre, title, artist, input, then "#"),
// so a "#" inside a title is numbered too. The characters < > : " / | * ?
// become "-". Never fails; the result may still name "." or ".." folders,
// which SafeRelativeName disarms.
std::string MakeTrackName(const std::string& rule, const TrackRecord& track, int32_t number,
                          const std::string& baseName);

// The same for element track of the document's track table (0 is the whole
// recording), with the input file's base name. Throws std::out_of_range for
// a track index outside the table.
std::string MakeTrackName(const CQuillon3Doc& doc, const std::string& rule, int32_t track, int32_t number);

// Turns a name made by MakeTrackName into a relative path that stays inside
// the folder it is appended to: backslashes become "/", empty folder parts
// (doubled, leading or trailing backslashes) are dropped, and parts that are
// "." or ".." become "-" and "--". NUL bytes, which no file name can hold and
// which would silently cut the path short, become "-", and so does any "/"
// in a name that did not come through MakeTrackName. A name with nothing
// left becomes "-".
std::string SafeRelativeName(const std::string& name);

}  // namespace kelvane
