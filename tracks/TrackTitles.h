#pragma once
// Default texts of the track table: until the user names them, tracks carry
// "???" as title (the exporter and the track strip read that as "no title")
// and the album is the input file's base name.

#include <string>

namespace kelvane {

class CQuillon3Doc;

// The input file's name (the leaf of the path the user chose) without its
// last four characters; empty when the name is that short or no file is
// open. "side.wav" gives "side", and "side.flac" gives "side." since the
// extension test everywhere looks at four characters.
std::string InputBaseName(const CQuillon3Doc& doc);

// Applies the default album and title texts. While the document's
// keepFileNameTitles is set (the user gave a track the base name as its
// title) the base name counts as empty, so such titles stay and empty albums
// are not filled.
//
// With two or more tracks: every empty album (element 0 included) becomes
// the base name; every track title that is empty, equals the base name or
// begins with "Track" becomes "???". With one track: an empty element 0
// title becomes the base name; track 1 takes element 0's title when its own
// is empty or begins with "Track", and element 0's artist when its own is
// empty. Without tracks nothing changes.
void RefreshTrackTitles(CQuillon3Doc& doc);

}  // namespace kelvane
