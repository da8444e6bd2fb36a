#include "CMainFrame.h"

#include "app/CKelvaneBar.h"
#include "app/CQtInteraction.h"
#include "app/CTipDialog.h"
#include "app/CommandSet.h"
#include "declick/ScanOptions.h"
#include "declick/ui/CClickList.h"
#include "declick/ui/CScanOptionsDialog.h"
#include "document/CommandState.h"
#include "document/SaveModified.h"
#include "document/StatusTexts.h"
#include "operations/EditCorrections.h"
#include "operations/ProcessRecording.h"
#include "operations/Rescan.h"
#include "settings/SettingsStore.h"
#include "settings/ui/CPathsDialog.h"
#include "tracks/CFadeLaw.h"
#include "tracks/BlockMerge.h"
#include "tracks/Gapless.h"
#include "tracks/TrackEditing.h"
#include "tracks/RescanTracks.h"
#include "tracks/TracksMenu.h"
#include "tracks/ui/CRescanTracksDialog.h"
#include "views/CBoundaryFade.h"
#include "views/CClickView.h"
#include "views/CQuillon3View.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QCheckBox>
#include <QVBoxLayout>
#include <QWhatsThis>

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace kelvane {

namespace {

bool OpenableName(const QString& path)
{
    // The document dispatches on the last four characters; a drop offers
    // only what it would accept.
    const QString tail = path.right(4).toLower();
    return tail == ".wav" || tail == ".ape" || tail == "flac";
}

}  // namespace

// Marks the frame busy while an operation runs: every command is disabled,
// so even a path around the disabled window cannot start a second one.
struct CMainFrame::BusyScope {
    CMainFrame& frame;
    explicit BusyScope(CMainFrame& f) : frame(f)
    {
        frame.busy_ = true;
        frame.UpdateCommands();
    }
    ~BusyScope()
    {
        frame.busy_ = false;
        frame.UpdateCommands();
        frame.UpdateStatusPanes();
    }
};

CMainFrame::CMainFrame(ISettingsStore& store, CQtInteraction& ui, CQuillon3Doc& doc)
    : store_(store), ui_(ui), doc_(doc)
{
    setObjectName("mainFrame");
    setWindowTitle("Kelvane");
    setWindowIcon(QIcon(":/icons/kelvane.png"));
    setAcceptDrops(true);
    BuildCommands();
    BuildToolbar();
    BuildStatusBar();
    BuildWindows();
    ui_.SetMainWindow(this);
    doc_.AddObserver(this);
    RebuildRecentMenu();
    UpdateStatusPanes();
    UpdateCommands();
    resize(1100, 760);
}

CMainFrame::~CMainFrame() { doc_.RemoveObserver(this); }

void CMainFrame::BuildCommands()
{
    for (const CommandEntry& entry : CommandEntries()) {
        auto* action = new QAction(QString::fromUtf8(entry.text), this);
        action->setObjectName(entry.key);
        const QString prompt = QString::fromUtf8(entry.prompt);
        action->setStatusTip(prompt.section('\n', 0, 0));
        action->setToolTip(prompt.section('\n', 1, 1));
        action->setCheckable(entry.checkable);
        if (entry.icon) action->setIcon(QIcon(entry.icon));
        QList<QKeySequence> keys;
        for (const QString& k : QString(entry.shortcuts).split(';', Qt::SkipEmptyParts)) keys << QKeySequence(k);
        action->setShortcuts(keys);
        addAction(action);  // shortcuts work with the toolbar hidden
        actions_[entry.key] = action;
        if (!entry.menu) continue;
        QMenu*& menu = menus_[entry.menu];
        if (!menu) menu = menuBar()->addMenu(entry.menu);
        QMenu* target = menu;
        if (entry.submenu) {
            QMenu*& sub = menus_[QString(entry.menu) + "/" + entry.submenu];
            if (!sub) {
                if (entry.separatorBefore) menu->addSeparator();
                sub = menu->addMenu(entry.submenu);
            }
            target = sub;
        } else if (entry.separatorBefore) {
            menu->addSeparator();
        }
        target->addAction(action);
    }
    // The recent files sit above Exit.
    QMenu* file = menus_["&File"];
    recentSeparator_ = file->insertSeparator(Action("exit"));
    tracksMenu_ = menus_["&Tracks"];
    // One fade law at a time: the two items are radio items.
    auto* fadeType = new QActionGroup(this);
    fadeType->setExclusive(true);
    fadeType->addAction(Action("fadeLinear"));
    fadeType->addAction(Action("fadeLog"));
    trackSeparator_ = tracksMenu_->addSeparator();
    connect(tracksMenu_, &QMenu::aboutToShow, this, &CMainFrame::RebuildTracksMenu);

    stripMenu_ = new QMenu(this);
    const char* stripTexts[] = {"Play Track From Start", "Play Track From Cursor", "Split Track", "Properties..."};
    int i = 0;
    for (const char* key : StripContextCommands()) {
        // Same command, the strip's own words: the item follows its action.
        QAction* source = Action(key);
        auto* item = stripMenu_->addAction(stripTexts[i++]);
        item->setEnabled(source->isEnabled());
        connect(source, &QAction::changed, item, [item, source] { item->setEnabled(source->isEnabled()); });
        connect(item, &QAction::triggered, source, &QAction::trigger);
    }

    Connect("open", &CMainFrame::OnOpen);
    Connect("paths", &CMainFrame::OnPaths);
    Connect("exit", &CMainFrame::OnExit);
    Connect("toolbar", &CMainFrame::OnToggleToolbar);
    Connect("statusBar", &CMainFrame::OnToggleStatusBar);
    Connect("splash", &CMainFrame::OnToggleSplash);
    Connect("rescanTracks", &CMainFrame::OnRescanTracks);
    Connect("rescanAll", &CMainFrame::OnRescanAll);
    Connect("autoScanOptions", &CMainFrame::OnAutoScanOptions);
    Connect("status", &CMainFrame::OnStatus);
    Connect("fadeLinear", &CMainFrame::OnFadeLinear);
    Connect("fadeLog", &CMainFrame::OnFadeLog);
    Connect("gapless", &CMainFrame::OnGapless);
    Connect("tip", &CMainFrame::OnTip);
    Connect("about", &CMainFrame::OnAbout);
    Connect("contextHelp", &CMainFrame::OnContextHelp);
}

void CMainFrame::Connect(const char* key, void (CMainFrame::*handler)())
{
    connect(Action(key), &QAction::triggered, this, [this, handler] {
        if (busy_) return;
        (this->*handler)();
    });
}

void CMainFrame::BuildToolbar()
{
    toolbar_ = addToolBar("Toolbar");
    toolbar_->setObjectName("toolbar");
    toolbar_->setIconSize(QSize(24, 24));
    bool first = true;
    for (const auto& group : ToolbarGroups()) {
        if (!first) toolbar_->addSeparator();
        first = false;
        for (const char* key : group) toolbar_->addAction(Action(key));
    }
    toolbar_->setVisible(store_.Get(settings::ShowToolbar) != 0);

    bar_ = new CKelvaneBar(store_, this);
    bar_->hide();
}

void CMainFrame::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    const char* names[] = {"statusPane", "clicksPane", "tracksPane"};
    for (int i = 0; i < 3; ++i) {
        panes_[i] = new QLabel(this);
        panes_[i]->setObjectName(names[i]);
        panes_[i]->setMinimumWidth(i == 0 ? 150 : 110);
        panes_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addPermanentWidget(panes_[i]);
    }
    statusProgress_ = new QProgressBar(this);
    statusProgress_->setMaximumWidth(200);
    statusProgress_->hide();
    bar->addWidget(statusProgress_);
    bar->showMessage("Ready");
    bar->setVisible(store_.Get(settings::ShowStatusBar) != 0);
}

void CMainFrame::BuildWindows()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar_);
    strip_ = new CQuillon3View(doc_, central);
    strip_->SetContextMenu(stripMenu_);
    layout->addWidget(strip_);
    auto* split = new QSplitter(Qt::Horizontal, central);
    // The boundary fade display sits under the waveform view, whose
    // boundary moves take their fades from it.
    auto* wavePane = new QWidget(split);
    auto* waveLayout = new QVBoxLayout(wavePane);
    waveLayout->setContentsMargins(0, 0, 0, 0);
    waveLayout->setSpacing(0);
    view_ = new CClickView(doc_, wavePane);
    auto* scroll = new QScrollBar(Qt::Horizontal, wavePane);
    scroll->setObjectName("clickViewScroll");
    auto* fade = new CBoundaryFade(doc_, wavePane);
    waveLayout->addWidget(view_, 1);
    waveLayout->addWidget(scroll);
    waveLayout->addWidget(fade);
    view_->SetScrollBar(scroll);
    view_->SetFadeDisplay(fade);
    list_ = new CClickList(doc_, split);
    split->addWidget(wavePane);
    split->addWidget(list_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);
    setCentralWidget(central);
    ConnectView();
}

void CMainFrame::ConnectView()
{
    const auto on = [this](const char* key, std::function<void()> run) {
        connect(Action(key), &QAction::triggered, this, [this, run] {
            if (!busy_) run();
        });
    };
    on("rescanClicks", [this] { RunRescan(false, true); });
    on("superScan", [this] { RunRescan(true, true); });
    on("blockRescan", [this] { RunRescan(false, false); });
    on("blockSuperScan", [this] { RunRescan(true, false); });
    on("blockRemove", [this] {
        BusyScope busy(*this);
        RemoveCorrectionsInBlock(doc_);
    });
    on("blockMerge", [this] {
        MergeTracksInBlock(doc_);
        RebuildTracksMenu();
    });
    on("cancelBlock", [this] { view_->CancelBlock(); });
    on("splitTrack", [this] {
        if (const EventRecord* current = doc_.CurrentEvent()) SplitTrack(doc_, current->pos);
        RebuildTracksMenu();
    });
    on("nextMarker", [this] { view_->NextTrackMarker(); });
    on("prevMarker", [this] { view_->PreviousTrackMarker(); });
    on("zoomIn", [this] { view_->ZoomIn(); });
    on("zoomOut", [this] { view_->ZoomOut(); });
    on("grid", [this] { view_->SetGraticule(!view_->Graticule()); });
    // The display bar is the view's scale window: hidden until asked for.
    on("scale", [this] {
        bar_->setVisible(bar_->isHidden());
        UpdateCommands();
    });
    on("bgClassic", [this] { view_->SetScheme(0); });
    on("bgWhite", [this] { view_->SetScheme(1); });
    on("bgGrey", [this] { view_->SetScheme(2); });
    // The context menu runs the frame's commands, enabled by the same rules.
    view_->SetCommandHandler([this](const char* key) {
        QAction* action = Action(key);
        if (action->isEnabled()) action->trigger();
    });
    // Delete and Insert have no menu entry but work wherever the focus is
    // in the window, as the view's own keys.
    const auto key = [this](QKeySequence sequence, std::function<void()> run) {
        auto* action = new QAction(this);
        action->setShortcut(sequence);
        addAction(action);
        connect(action, &QAction::triggered, this, [this, run] {
            if (!busy_) run();
        });
    };
    key(QKeySequence(Qt::Key_Delete), [this] { view_->DeleteKey(); });
    key(QKeySequence(Qt::Key_Insert), [this] { view_->StartAdjust(); });
    connect(view_, &CClickView::adjustChanged, this, [this] { UpdateCommands(); });
    connect(view_, &CClickView::scaleChanged, this, [this](int index, int32_t s) {
        const clickview::ScaleLabel label = clickview::LabelFor(s, doc_.sampleRate);
        bar_->ShowScale(index, QString::fromStdString(label.value), QString::fromStdString(label.unit));
    });
    connect(bar_->HorizontalSpin(), &QSpinBox::valueChanged, view_, &CClickView::SetScaleIndex);
    connect(bar_->WaveButton(), &QPushButton::clicked, view_, [this] { view_->SetMode(clickview::ScaleMode::Wave); });
    connect(bar_->TrackButton(), &QPushButton::clicked, view_, [this] { view_->SetMode(clickview::ScaleMode::Track); });
    connect(bar_->SeparationSpin(), &QSpinBox::valueChanged, view_,
            [this](int position) { view_->SetTraceSeparation(std::clamp(position, 0, 8) * 50); });
    connect(bar_->VerticalSpin(), &QSpinBox::valueChanged, view_,
            [this] { view_->SetVerticalScale(bar_->VerticalValue()); });
    connect(bar_->AutoScaleBox(), &QCheckBox::toggled, view_, &CClickView::SetAutoScale);
    view_->SetAutoScale(bar_->AutoScaleBox()->isChecked());
    for (int channel = 0; channel < 2; ++channel)
        connect(bar_->ChannelButton(channel), &QToolButton::toggled, view_, [this] {
            view_->SetShowChannels(bar_->ChannelButton(0)->isChecked(), bar_->ChannelButton(1)->isChecked());
        });
    view_->SetScaleIndex(view_->ScaleIndex());
}

void CMainFrame::RunRescan(bool superimpose, bool wholeFile)
{
    RescanRequest request;
    request.superimpose = superimpose;
    request.wholeFile = wholeFile;
    request.dialog = [this](CQuillon3Doc& doc, std::string_view caption, std::string_view text, RescanRequest& r) {
        CScanOptionsDialog dialog(CScanOptionsDialog::Kind::Scan, ScanOptionsValues::FromDocument(doc), this,
                                  QString::fromUtf8(caption.data(), static_cast<int>(caption.size())),
                                  QString::fromUtf8(text.data(), static_cast<int>(text.size())));
        if (dialog.exec() != QDialog::Accepted) return false;
        const ScanOptionsValues& v = dialog.Values();
        r.sensitivity = v.sensitivity;
        r.mode = v.mode;
        r.discriminator = v.discriminator;
        r.agc = v.agc;
        r.minMagnitude = v.minMagnitude;
        r.corWidth = v.corWidth;
        return true;
    };
    BusyScope busy(*this);
    Rescan(doc_, request);
    RebuildTracksMenu();
}

QAction* CMainFrame::Action(const char* key) const
{
    const auto it = actions_.find(key);
    if (it == actions_.end()) throw std::out_of_range(std::string("no command ") + key);
    return it->second;
}

QMenu* CMainFrame::Menu(const QString& title) const
{
    const auto it = menus_.find(title);
    return it == menus_.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommands()
{
    ViewState view;
    view.exists = view_ != nullptr;
    view.adjusting = view_ && view_->Adjusting();
    const int fadeLinear = store_.Get(settings::FadeLinear);
    for (const CommandEntry& entry : CommandEntries()) {
        QAction* action = Action(entry.key);
        bool enabled = false, checked = false;
        switch (entry.rule) {
        case Rule::Always: enabled = true; break;
        case Rule::Loaded: enabled = doc_.status >= kStatusNotScanned; break;
        case Rule::Core: {
            const CommandUi state = QueryCommand(entry.core, doc_, view, fadeLinear);
            enabled = state.enabled;
            checked = state.checked;
            break;
        }
        case Rule::NotBuilt: break;
        }
        const std::string key = entry.key;
        if (key == "toolbar") checked = toolbar_ && toolbar_->isVisible();
        if (key == "statusBar") checked = statusBar()->isVisible();
        if (key == "splash") checked = store_.Get(settings::Splash) != 0;
        if (view_ && key == "grid") checked = view_->Graticule();
        if (key == "scale") checked = bar_ && !bar_->isHidden();
        if (view_ && key.rfind("bg", 0) == 0)
            checked = view_->Scheme() == (key == "bgClassic" ? 0 : key == "bgWhite" ? 1 : 2);
        action->setEnabled(enabled && !busy_);
        if (entry.checkable) action->setChecked(checked);
    }
    for (QAction* a : recentActions_) a->setEnabled(!busy_);
    for (QAction* a : trackActions_) a->setEnabled(!busy_);
}

QString CMainFrame::StatusPaneText(int pane) const
{
    if (pane == 0) return statusBar()->currentMessage();
    return panes_[pane - 1]->text();
}

void CMainFrame::UpdateStatusPanes()
{
    if (statusOverride_) return;
    panes_[0]->setText(QString::fromStdString(" " + StatusWord(doc_.status)));
    panes_[1]->setText(QString::fromStdString(ClicksIndicator(doc_)));
    panes_[2]->setText(QString::fromStdString(TracksIndicator(doc_, std::nullopt)));
}

void CMainFrame::OnDocReset()
{
    UpdateStatusPanes();
    UpdateCommands();
}

void CMainFrame::OnDocUpdate()
{
    UpdateStatusPanes();
    UpdateCommands();
    // The cursor's time counts from the start of the track it lies in, as
    // the correction list's rows do.
    if (const EventRecord* current = doc_.CurrentEvent(); current && doc_.status >= kStatusNotScanned) {
        const int32_t track = TrackHolding(doc_, current->pos);
        const int32_t reference = track > 0 ? doc_.tracks[track].start : doc_.dataStart;
        bar_->SetCursorFrames((current->pos - reference) / 4, doc_.sampleRate);
    }
}

void CMainFrame::OnTracksChanged()
{
    RebuildTracksMenu();
    UpdateStatusPanes();
}

void CMainFrame::OnStatusTexts(const std::string& pane1, const std::string& pane2, const std::string& pane3)
{
    statusOverride_ = !(pane1.empty() && pane2.empty() && pane3.empty());
    if (!statusOverride_) {
        UpdateStatusPanes();
        return;
    }
    panes_[0]->setText(QString::fromStdString(pane1));
    panes_[1]->setText(QString::fromStdString(pane2));
    panes_[2]->setText(QString::fromStdString(pane3));
    for (QLabel* pane : panes_) pane->repaint();
}

void CMainFrame::OnStatusProgress(int32_t pos, int32_t range)
{
    if (range <= 0) {
        statusProgress_->hide();
        return;
    }
    statusProgress_->setRange(0, range);
    statusProgress_->setValue(pos);
    statusProgress_->show();
    statusProgress_->repaint();
}

void CMainFrame::RebuildTracksMenu()
{
    for (QAction* a : trackActions_) {
        tracksMenu_->removeAction(a);
        a->deleteLater();
    }
    trackActions_.clear();
    for (const TracksMenuItem& item : BuildTracksMenu(doc_).items) {
        auto* a = tracksMenu_->addAction(QString::fromStdString(item.text));
        a->setCheckable(true);
        a->setChecked(item.checked);
        a->setEnabled(!busy_);
        a->setData(item.id);
        connect(a, &QAction::triggered, this, [this, id = item.id] {
            if (!busy_) ChooseMenuTrack(doc_, id);
        });
        trackActions_ << a;
    }
    trackSeparator_->setVisible(!trackActions_.isEmpty());
}

QStringList CMainFrame::RecentFiles() const
{
    QStringList files;
    for (const StringSetting& s : settings::RecentFile) {
        const std::string path = store_.Get(s);
        if (!path.empty()) files << QString::fromStdString(path);
    }
    return files;
}

void CMainFrame::AddRecent(const QString& path)
{
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    ISettingsStore::Batch batch(store_);
    for (int i = 0; i < settings::kRecentFiles; ++i) {
        if (i < files.size()) store_.Set(settings::RecentFile[i], files[i].toStdString());
        else store_.Remove(settings::RecentFile[i].section, settings::RecentFile[i].name);
    }
    RebuildRecentMenu();
}

void CMainFrame::RebuildRecentMenu()
{
    QMenu* file = menus_["&File"];
    for (QAction* a : recentActions_) {
        file->removeAction(a);
        a->deleteLater();
    }
    recentActions_.clear();
    const QStringList files = RecentFiles();
    for (int i = 0; i < files.size(); ++i) {
        auto* a = new QAction(QString("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(files[i])), this);
        a->setStatusTip("Open this document");
        file->insertAction(recentSeparator_, a);
        connect(a, &QAction::triggered, this, [this, path = files[i]] {
            if (busy_ || !ConfirmClose()) return;
            OpenFile(path);
        });
        recentActions_ << a;
    }
}

bool CMainFrame::ConfirmClose()
{
    // Saving the tracks comes with the save dialog; until then "Save" keeps
    // the recording open, as Cancel does.
    return SaveModified(doc_, [] { return false; });
}

bool CMainFrame::ShowAutoScanOptions()
{
    CScanOptionsDialog dialog(CScanOptionsDialog::Kind::AutoScan, ScanOptionsValues::FromDocument(doc_), this);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.Values().StoreInDocument(doc_);
    return true;
}

OpResult CMainFrame::OpenFile(const QString& path)
{
    BusyScope busy(*this);
    AddRecent(QFileInfo(path).absoluteFilePath());
    ProcessRequest process;
    if (askScanOptions_) process.optionsDialog = [this](CQuillon3Doc&) { return ShowAutoScanOptions(); };
    OpenRequest open{path.toStdString(), false, nullptr};
    const OpResult result = OpenAndProcess(doc_, open, process);
    setWindowTitle(doc_.status == kStatusNotLoaded ? QString("Kelvane")
                                                   : QFileInfo(path).fileName() + " - Kelvane");
    RebuildTracksMenu();
    return result;
}

void CMainFrame::OnOpen()
{
    if (!ConfirmClose()) return;
    const QString start = QString::fromStdString(store_.Get(settings::PathName));
    const QString path = QFileDialog::getOpenFileName(
        this, "Open... Select Wave File to Process", start,
        "Wave Files (*.wav *.flac *.ape);;WAV Files (*.wav);;FLAC Files (*.flac);;Monkey's Audio Files (*.ape)");
    if (path.isEmpty()) return;
    store_.Set(settings::PathName, QFileInfo(path).absolutePath().toStdString());
    OpenFile(path);
}

void CMainFrame::OnPaths()
{
    CPathsDialog dialog(store_, this);
    dialog.exec();
}

void CMainFrame::OnExit() { close(); }

void CMainFrame::OnToggleToolbar()
{
    toolbar_->setVisible(!toolbar_->isVisible());
    store_.Set(settings::ShowToolbar, toolbar_->isVisible() ? 1 : 0);
    UpdateCommands();
}

void CMainFrame::OnToggleStatusBar()
{
    statusBar()->setVisible(!statusBar()->isVisible());
    store_.Set(settings::ShowStatusBar, statusBar()->isVisible() ? 1 : 0);
    UpdateCommands();
}

void CMainFrame::OnToggleSplash()
{
    store_.Set(settings::Splash, store_.Get(settings::Splash) ? 0 : 1);
    UpdateCommands();
}

void CMainFrame::OnRescanTracks()
{
    CRescanTracksDialog dialog(RescanTracksDefaults(doc_), this);
    if (dialog.exec() != QDialog::Accepted) return;
    BusyScope busy(*this);
    try {
        RescanTracks(doc_, dialog.Request());
    } catch (const std::exception& e) {
        ui_.MessageBox(e.what(), kAppCaption, MbButtons::Ok, MbIcon::Error);
    }
    RebuildTracksMenu();
}

void CMainFrame::OnRescanAll()
{
    BusyScope busy(*this);
    ProcessRequest process;
    process.optionsDialog = [this](CQuillon3Doc&) { return ShowAutoScanOptions(); };
    RescanAll(doc_, process);
    RebuildTracksMenu();
}

void CMainFrame::OnAutoScanOptions() { ShowAutoScanOptions(); }

void CMainFrame::OnStatus()
{
    QMessageBox box(QMessageBox::NoIcon, "Status", QString::fromStdString(StatusWindowText(doc_)), QMessageBox::Ok,
                    this);
    box.setObjectName("statusWindow");
    box.exec();
}

void CMainFrame::OnFadeLinear()
{
    // Program-wide and stored at once: a save reads the law from the store
    // when it starts, whatever recording is open.
    CFadeLaw(FadeShape::Linear).Store(store_);
    UpdateCommands();
}

void CMainFrame::OnFadeLog()
{
    CFadeLaw(FadeShape::Logarithmic).Store(store_);
    UpdateCommands();
}

void CMainFrame::OnGapless()
{
    ToggleGapless(doc_);
    UpdateCommands();
}

CTipDialog* CMainFrame::ShowTipOfTheDay()
{
    auto* dialog = new CTipDialog(store_, CTipDialog::TipsText(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}

void CMainFrame::OnTip() { ShowTipOfTheDay(); }

void CMainFrame::OnAbout()
{
    QMessageBox::about(this, "About Kelvane",
                       QString("Kelvane %1\nRestoration of vinyl and tape transfers.").arg(KELVANE_VERSION));
}

void CMainFrame::OnContextHelp() { QWhatsThis::enterWhatsThisMode(); }

void CMainFrame::RestorePlacement()
{
    if (store_.Get(settings::PlacementFlags) == -1) return;
    const QRect r(QPoint(store_.Get(settings::PlacementLeft), store_.Get(settings::PlacementTop)),
                  QPoint(store_.Get(settings::PlacementRight) - 1, store_.Get(settings::PlacementBottom) - 1));
    if (r.width() > 100 && r.height() > 100) setGeometry(r);
    if (store_.Get(settings::PlacementShow) == 3) setWindowState(Qt::WindowMaximized);
}

void CMainFrame::StorePlacement()
{
    const QRect r = normalGeometry();
    ISettingsStore::Batch batch(store_);
    store_.Set(settings::PlacementFlags, 0);
    store_.Set(settings::PlacementLeft, r.left());
    store_.Set(settings::PlacementTop, r.top());
    store_.Set(settings::PlacementRight, r.right() + 1);
    store_.Set(settings::PlacementBottom, r.bottom() + 1);
    store_.Set(settings::PlacementShow, isMaximized() ? 3 : 1);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (busy_ || !ConfirmClose()) {
        event->ignore();
        return;
    }
    StorePlacement();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (busy_ || !event->mimeData()->hasUrls()) return;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && OpenableName(url.toLocalFile())) return event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    if (busy_) return;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        event->acceptProposedAction();
        // Only one recording is open at a time: the first file dropped.
        if (ConfirmClose()) OpenFile(url.toLocalFile());
        return;
    }
}

}  // namespace kelvane
