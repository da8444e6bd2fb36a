#pragma once
// The program's own pictures for the README: the main window after a file
// was processed, the progress window mid-run and the Auto-Scan Options
// dialog, rendered without a screen (the offscreen platform will do).

#include <QString>

namespace kelvane {

class CKelvaneApp;

// Renders the kind asked for to `out` (PNG). Returns the exit status: 0
// written, 1 when the file could not be processed or the picture not saved.
int TakeScreenshot(CKelvaneApp& app, const QString& kind, const QString& file, const QString& out);

}  // namespace kelvane
