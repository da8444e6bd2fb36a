#pragma once
// The main window: the fixed menu bar, the toolbar, the display bar, the
// status bar with its four panes, and the document's three child windows
// (the track strip, the waveform view and the correction list). Commands turn gestures into requests for the
// operations layer; their enabling is copied from the core's rules in
// UpdateCommands and nowhere else.

#include "document/CQuillon3Doc.h"
#include "document/ImportResult.h"

#include <QMainWindow>

#include <map>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QToolBar;

namespace kelvane {

class CClickList;
class CTipDialog;
class CKelvaneBar;
class CClickView;
class CQtInteraction;
class CQuillon3View;
class ISettingsStore;

class CMainFrame : public QMainWindow, public IDocObserver {
    Q_OBJECT
public:
    CMainFrame(ISettingsStore& store, CQtInteraction& ui, CQuillon3Doc& doc);
    ~CMainFrame() override;

    // Opens and processes a recording as Open... does once its file dialog
    // has a name; the file joins the recent-file list.
    OpResult OpenFile(const QString& path);
    // Whether the processing asks for the Auto-Scan Options when it has to
    // (off for screenshot runs, which take the stored settings as they are).
    void SetAskScanOptions(bool ask) { askScanOptions_ = ask; }
    // Opens "Tip of the Day" window-modal, without waiting for it to close
    // (start-up goes on underneath it); it deletes itself when closed.
    CTipDialog* ShowTipOfTheDay();

    // The one place that copies the core's command rules onto the actions.
    void UpdateCommands();
    QAction* Action(const char* key) const;
    QMenu* Menu(const QString& title) const;
    QMenu* TracksMenu() const { return tracksMenu_; }
    // 0 message, 1 processing state, 2 corrections, 3 tracks.
    QString StatusPaneText(int pane) const;
    bool Busy() const { return busy_; }

    CQuillon3View* Strip() const { return strip_; }
    CClickList* ClickList() const { return list_; }
    CClickView* WaveView() const { return view_; }
    CKelvaneBar* DisplayBar() const { return bar_; }
    QStringList RecentFiles() const;

    // Restores the placement stored in the settings ("Flags" -1: none).
    void RestorePlacement();
    void StorePlacement();

    void OnDocReset() override;
    void OnDocUpdate() override;
    void OnTracksChanged() override;
    void OnStatusTexts(const std::string& pane1, const std::string& pane2, const std::string& pane3) override;
    void OnStatusProgress(int32_t pos, int32_t range) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildCommands();
    void BuildToolbar();
    void BuildStatusBar();
    void BuildWindows();
    void Connect(const char* key, void (CMainFrame::*handler)());
    void ConnectView();
    // Re-Scan Clicks... and Super-Scan Clicks... of the Waveform and Block
    // menus, with the Scan Options dialog under the operation's caption.
    void RunRescan(bool superimpose, bool wholeFile);
    void RebuildTracksMenu();
    void RebuildRecentMenu();
    void AddRecent(const QString& path);
    void UpdateStatusPanes();
    bool ConfirmClose();
    bool ShowAutoScanOptions();
    struct BusyScope;

    void OnOpen();
    void OnPaths();
    void OnExit();
    void OnToggleToolbar();
    void OnToggleStatusBar();
    void OnToggleSplash();
    void OnRescanTracks();
    void OnRescanAll();
    void OnAutoScanOptions();
    void OnStatus();
    void OnFadeLinear();
    void OnFadeLog();
    void OnGapless();
    void OnTip();
    void OnAbout();
    void OnContextHelp();

    ISettingsStore& store_;
    CQtInteraction& ui_;
    CQuillon3Doc& doc_;
    std::map<std::string, QAction*> actions_;
    std::map<QString, QMenu*> menus_;
    QMenu* tracksMenu_ = nullptr;
    QMenu* recentMenuAnchor_ = nullptr;
    QList<QAction*> recentActions_;
    QList<QAction*> trackActions_;
    QAction* recentSeparator_ = nullptr;
    QAction* trackSeparator_ = nullptr;
    QMenu* stripMenu_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    CKelvaneBar* bar_ = nullptr;
    CQuillon3View* strip_ = nullptr;
    CClickView* view_ = nullptr;
    CClickList* list_ = nullptr;
    QLabel* panes_[3] = {};
    QProgressBar* statusProgress_ = nullptr;
    bool statusOverride_ = false;
    bool busy_ = false;
    bool askScanOptions_ = true;
};

}  // namespace kelvane
