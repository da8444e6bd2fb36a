#pragma once
// The desktop program's start: the command line, the settings store, the
// document with the main window and its child windows, and the steps that
// run once the window is up (the current folder, the encoder search, a file
// named on the command line opened and processed).

#include "app/CMainFrame.h"
#include "app/CQtInteraction.h"
#include "document/CQuillon3Doc.h"
#include "settings/SettingsStore.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace kelvane {

struct StartupOptions {
    bool noSettings = false;  // the defaults, and no trace left in the store
    bool noSplash = false;
    // Render a picture and exit: of the main window once FILE is processed
    // ("main"), of the progress window halfway through the load ("progress"),
    // or of the Auto-Scan Options dialog with its advanced block ("options").
    QString screenshot;
    QString screenshotKind = "main";
    QString file;
};

// Parses the arguments after the program name; nullopt with `error` set for
// an unknown option or a missing value.
std::optional<StartupOptions> ParseCommandLine(const QStringList& args, QString& error);
QString Usage();

class CKelvaneApp {
public:
    // The store: the user's file, or memory for --no-settings and tests.
    explicit CKelvaneApp(std::unique_ptr<ISettingsStore> store);
    ~CKelvaneApp();

    ISettingsStore& Store() { return *store_; }
    CQtInteraction& Ui() { return ui_; }
    CQuillon3Doc& Doc() { return *doc_; }
    CMainFrame& Frame() { return *frame_; }

    // Start-up once the window exists: placement, splash, the empty
    // document, the current folder, the Tip of the Day (no file named and
    // tips on), the encoder search, then the file.
    void Start(const StartupOptions& options);

private:
    std::unique_ptr<ISettingsStore> store_;
    CQtInteraction ui_;
    std::unique_ptr<CQuillon3Doc> doc_;
    std::unique_ptr<CMainFrame> frame_;
};

// Runs the program; returns its exit status.
int RunKelvane(int argc, char** argv);

}  // namespace kelvane
