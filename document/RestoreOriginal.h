#pragma once
// Putting the original waveform back: the source's samples replace the
// working file's, at full precision, so every correction and every filter
// applied there is undone. Used when an operation that changed the working
// file is stopped or removed.

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

// Restores [first, last) (clamped to the audio) chunk by chunk. The progress
// window follows it with its Cancel button disabled: a waveform left half
// restored would be neither the original nor the corrected one. A file error
// is shown to the user and returns false; the chunks before it are restored.
bool RestoreOriginal(CQuillon3Doc& doc, int32_t first, int32_t last);

// The whole recording.
bool RestoreOriginal(CQuillon3Doc& doc);

}  // namespace kelvane
