#pragma once
// Decodes a FLAC file into a temporary WAV with libFLAC's file decoder (MD5
// checking on), showing a progress window that the user can cancel. The
// Vorbis comments of the input become the document's input tags.

#include "document/ImportResult.h"

#include <string>

namespace kelvane {

class CQuillon3Doc;

// Decodes flacPath into tmpPath (created, truncated). On failure tmpPath has
// been deleted and the user told why.
OpResult DecodeFlacToWav(CQuillon3Doc& doc, const std::string& flacPath, const std::string& tmpPath);

}  // namespace kelvane
