#pragma once
// Decodes a FLAC file into a temporary WAV with libFLAC's stream decoder (MD5
// checking on), reading the file itself so that a cancel is noticed even
// while libFLAC searches a long stretch of junk, and showing a progress
// window that the user can cancel. The Vorbis comments of the input become
// the document's input tags.
//
// The WAV header states what was decoded, not what STREAMINFO promised: a
// streamed FLAC (total 0) and one whose total is too small keep all their
// audio. A damaged stream (lost sync, a bad frame header, a frame whose CRC
// fails and which libFLAC would replace by silence, a gap in the sample
// numbers, a stream that ends before its stated total, an MD5 mismatch) is
// refused, unless the caller accepts damaged input: then the user is told and
// gets what could be decoded.

#include "document/ImportResult.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kelvane {

class CQuillon3Doc;

struct FlacDecodeOptions {
    bool acceptDamaged = false;
    // Called once STREAMINFO is known and before any audio is written, with
    // the size the WAV will have (0 for a streamed FLAC, whose size is not
    // known in advance) and its bits per sample. A failure (already shown to
    // the user) ends the decode with that result.
    std::function<OpResult(int64_t wavBytes, int bitsPerSample)> beforeDecode;
};

// Decodes flacPath into tmpPath (an existing scratch file, truncated here).
// On failure tmpPath has been deleted and the user told why.
OpResult DecodeFlacToWav(CQuillon3Doc& doc, const std::string& flacPath, const std::string& tmpPath,
                         const FlacDecodeOptions& options = {});

// "m:ss.mmm" for a sample position at a rate, for messages.
std::string FormatSampleTime(uint64_t sample, unsigned rate);

}  // namespace kelvane
