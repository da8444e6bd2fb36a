#pragma once
// The tags each output format carries for one exported track, as ordered
// name/value lists for the encoders, plus the APEv2 tag block the APE writer
// appends. The texts come from the track table, which keeps what the input's
// tags and the user gave: usually UTF-8, but an old tag may hold Latin-1
// bytes, and every format here wants UTF-8, so each text is converted.

#include "output/IAudioEncoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

class CQuillon3Doc;

// The track number as a tag: number as decimal ("3", not "03") when it is
// above 0, otherwise the input file's own track-number text (possibly empty).
std::string TagNumberText(int32_t number, const std::string& inputTrackNumber);

// text as UTF-8: valid UTF-8 sequences are kept, every other byte is read as
// a Latin-1 character.
std::string ToUtf8(const std::string& text);

// Longest prefix of text of at most maxBytes bytes that does not split a
// UTF-8 sequence.
std::string TruncateUtf8(const std::string& text, size_t maxBytes);

// For all of the following: track indexes the document's track table (0 is
// the whole recording) and number is the number the export assigned (0 or
// less for none). They throw std::out_of_range for a track outside the table.

// Vorbis comments of a FLAC file: TITLE, ARTIST, ALBUM, TRACKNUMBER and
// GENRE, always present even when empty, each cut to 255 bytes; then, when
// the source recording was a FLAC file, each of its other comments, split at
// the first "=" with the double quotes taken out of the value.
EncoderTags FlacTags(const CQuillon3Doc& doc, int32_t track, int32_t number);

// Ogg Vorbis comments: Album, Title, Artist and Genre when not empty, and
// TrackNumber always: the number, or the input's track-number text read as
// a number, or empty when that gives no number above 0 either.
EncoderTags OggTags(const CQuillon3Doc& doc, int32_t track, int32_t number);

// APEv2 fields: Album, Title, Artist and Genre when not empty, and Track
// always (TagNumberText, possibly empty).
EncoderTags ApeTags(const CQuillon3Doc& doc, int32_t track, int32_t number);

// The values for an external encoder's command-line placeholders %A, %T,
// %L, %G and %N, in that order: artist, title, album, genre and
// TagNumberText, each exactly as in the track table. They are not quoted:
// they are put into the already split words of the command line and passed
// as arguments without a shell (see ExternalEncoderRun.h).
EncoderTags ExternalEncoderValues(const CQuillon3Doc& doc, int32_t track, int32_t number);

// The APEv2 tag for fields, as appended at the end of an APE file: per
// field its value size and flags (0) as 32-bit little-endian numbers, the
// key with a terminating zero byte and the value bytes; then the 32-byte
// footer "APETAGEX", version 2000, tag size (fields + 32), field count,
// flags 0x40000000 and 8 zero bytes. Keys must be printable ASCII; that is
// the caller's contract, since only fixed keys are written.
std::vector<uint8_t> BuildApeTag(const EncoderTags& fields);

}  // namespace kelvane
