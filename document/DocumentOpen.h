#pragma once
// Opening a recording: the dispatch on the file's name, the import, and the
// load pass with the status changes around it.

#include "document/CLoadPass.h"
#include "document/ImportResult.h"

#include <string>

namespace kelvane {

class CQuillon3Doc;
class CImporter;

// Empties the document and imports `path` when its name ends in ".wav",
// ".ape" or "flac" (case-insensitively); "The file type is not supported"
// otherwise. A failed import leaves the document empty. On success the status
// is "Wave Not Scanned" and the caller runs the automatic processing.
// importer: optional, for tests that replace the free-space query.
OpResult OpenRecording(CQuillon3Doc& doc, const std::string& path, CImporter* importer = nullptr);

// Runs the load pass (copy, statistics, and the scanner when given) with its
// status changes: "Scan Incomplete" while it runs, "Wave Not Corrected" when
// the first pass has gone through the whole file (unless the user stopped the
// scan). An abandoned or failed load empties the document.
LoadOutcome LoadRecording(CQuillon3Doc& doc, ILoadScanner* scanner, bool hissQuestion = false);

}  // namespace kelvane
