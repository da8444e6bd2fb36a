// The desktop program on the offscreen platform: the main window before and
// after the demo recording is opened and processed, the progress window
// during the run with its Cancel question, the Auto-Scan Options dialog and
// the Re-Scan for Tracks dialog reaching the document.

#include "app/CKelvaneBar.h"
#include "app/CMainFrame.h"
#include "app/CQtProgressWnd.h"
#include "app/CTipDialog.h"
#include "app/CommandSet.h"
#include "app/Screenshot.h"
#include "app/Startup.h"
#include "output/CTrackExporter.h"
#include "declick/ClickListRows.h"
#include "declick/ui/CClickList.h"
#include "declick/ui/CScanOptionsDialog.h"
#include "document/CancelQuestions.h"
#include "document/StatusTexts.h"
#include "settings/CTipFile.h"
#include "settings/SettingsStore.h"
#include "settings/ui/CPathsDialog.h"
#include "tests/support/Demo.h"
#include "tests/support/TempDir.h"
#include "tracks/ui/CRescanTracksDialog.h"
#include "views/CQuillon3View.h"
#include "views/StripGeometry.h"

#include <QAction>
#include <QActionGroup>
#include <QMenuBar>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace kelvane;

namespace {

// A fresh program over memory settings whose scan settings were stored
// before, so opening a file asks nothing.
std::unique_ptr<CKelvaneApp> MakeApp(bool scanSettingsStored = true)
{
    auto store = std::make_unique<CMemorySettings>();
    if (scanSettingsStored) store->Set(settings::Sensitivity, 3);
    auto app = std::make_unique<CKelvaneApp>(std::move(store));
    app->Frame().show();
    return app;
}

// Runs `act` on the modal dialog of type T once it is shown.
template <typename T, typename Act>
void WhenModal(Act act)
{
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        QVERIFY2(dialog, "the expected dialog is not open");
        act(*dialog);
    });
}

}  // namespace

class GuiTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        demoDir_ = std::make_unique<test::TempDir>("kelvane-gui");
        const test::DemoRecording demo = test::MakeDemoRecording();
        demoPath_ = QString::fromStdString(demoDir_->file("demo.wav").string());
        QVERIFY(test::WriteWav(demoDir_->file("demo.wav"), demo.Format(), demo.samples));
    }

    void emptyWindowShowsTheFixedMenusAndInitialPanes()
    {
        auto app = MakeApp();
        CMainFrame& frame = app->Frame();
        QCOMPARE(frame.StatusPaneText(1), QString(" Wave Not Loaded"));
        QCOMPARE(frame.StatusPaneText(2), QString("Clicks: 0"));
        QCOMPARE(frame.StatusPaneText(3), QString("Tracks: 0"));
        QStringList menus;
        for (QAction* a : frame.menuBar()->actions()) menus << a->text();
        QCOMPARE(menus, (QStringList{"&File", "&View", "&Waveform", "&Tracks", "&Block", "&Help"}));
        QStringList file;
        for (QAction* a : frame.Menu("&File")->actions())
            if (!a->isSeparator()) file << a->text();
        QCOMPARE(file, (QStringList{"Open...\tCtrl+O", "Merge Open...\tCtrl+M", "Save...\tCtrl+S", "Save && Close...",
                                    "Record New Wave File...\tCtrl+R", "Paths...", "Devices...", "External Encoders...",
                                    "E&xit"}));
        QCOMPARE(frame.Action("open")->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(frame.Action("splitTrack")->statusTip(),
                 QString("Convert the current Position Marker to a Track Boundary Marker"));
        QCOMPARE(frame.Action("splitTrack")->toolTip(), QString("Split Track"));
        QVERIFY(frame.Action("open")->isEnabled());
        QVERIFY(frame.Action("autoScanOptions")->isEnabled());
        QVERIFY(!frame.Action("rescanAll")->isEnabled());
        QVERIFY(!frame.Action("rescanTracks")->isEnabled());
        QVERIFY(!frame.Action("gapless")->isEnabled());
        // Commands still to come are there, and disabled.
        for (const CommandEntry& entry : CommandEntries())
            if (entry.rule == Rule::NotBuilt) QVERIFY2(!frame.Action(entry.key)->isEnabled(), entry.key);
        QVERIFY(frame.DisplayBar()->isHidden());
        QCOMPARE(frame.ClickList()->model()->rowCount(), 0);

        // View > Scale shows the display bar and hides it again, with its
        // check following; the grid's stored setting is left alone.
        QAction* scale = frame.Action("scale");
        QVERIFY(scale->isEnabled() && !scale->isChecked());
        const int graticule = app->Store().Get(settings::Graticule);
        scale->trigger();
        QVERIFY(!frame.DisplayBar()->isHidden());
        QVERIFY(scale->isChecked());
        scale->trigger();
        QVERIFY(frame.DisplayBar()->isHidden());
        QVERIFY(!scale->isChecked());
        QCOMPARE(app->Store().Get(settings::Graticule), graticule);
    }

    void openingTheDemoProcessesItAndFillsTheWindow()
    {
        auto app = MakeApp();
        CMainFrame& frame = app->Frame();
        CQuillon3Doc& doc = app->Doc();
        int progressWindows = 0;
        qint64 longestGap = 0;
        app->Ui().OnProgressCreated([&](CQtProgressWnd& p) {
            ++progressWindows;
            p.afterPump = [&longestGap](CQtProgressWnd& w) { longestGap = std::max(longestGap, w.LongestGapMs()); };
        });
        QVERIFY(frame.OpenFile(demoPath_).Ok());
        QCOMPARE(progressWindows, 1);
        qInfo("longest time between two event-loop turns during the run: %lld ms", longestGap);
        QVERIFY(frame.isEnabled());
        QVERIFY(!frame.Busy());

        QCOMPARE(frame.StatusPaneText(1), QString(" Ready to Save"));
        QCOMPARE(frame.StatusPaneText(2), QString("Clicks: %1").arg(doc.ClickCount()));
        QCOMPARE(frame.StatusPaneText(3), QString("Tracks: 4"));
        QVERIFY(doc.ClickCount() > 100);

        // Every record is listed by default, markers included.
        QAbstractItemModel* model = frame.ClickList()->model();
        QCOMPARE(model->rowCount(), doc.events.Size() - 2);
        auto& listModel = frame.ClickList()->Model();
        int checkedLoud = 0, checkedQuiet = 0, checkedMarker = 0;
        for (int row = 0; row < model->rowCount(); ++row) {
            const EventRecord& e = doc.events[listModel.EventAt(row)];
            const QColor background = model->data(model->index(row, 0), Qt::BackgroundRole).value<QColor>();
            if (e.IsMarker() && checkedMarker++ < 2) QCOMPARE(background, QColor(208, 208, 208));
            if (e.IsCorrection() && e.mag >= 30 && checkedLoud++ < 3) QCOMPARE(background, QColor(255, 200, 200));
            if (e.IsCorrection() && e.mag < 15 && checkedQuiet++ < 3) QCOMPARE(background, QColor(200, 255, 200));
        }
        QVERIFY(checkedLoud > 0 && checkedQuiet > 0 && checkedMarker > 0);

        QVERIFY(frame.Action("rescanAll")->isEnabled());
        QVERIFY(frame.Action("rescanTracks")->isEnabled());
        QVERIFY(frame.Action("gapless")->isEnabled());
        QVERIFY(!frame.Action("gapless")->isChecked());
        QVERIFY(!frame.Action("save")->isEnabled());  // the save dialog is still to come

        // The Tracks menu is rebuilt from the core's model as it opens.
        emit frame.TracksMenu()->aboutToShow();
        QStringList tracks;
        QAction* all = nullptr;
        for (QAction* a : frame.TracksMenu()->actions())
            if (a->data().isValid()) {
                tracks << a->text();
                if (!all) all = a;
            }
        QCOMPARE(tracks.size(), 5);
        QVERIFY(tracks.front().startsWith("All Tracks"));
        QVERIFY(all->isChecked());
        frame.TracksMenu()->actions().last()->trigger();
        QCOMPARE(doc.currentTrack, 4);

        // Choosing a row makes its record current; Shift makes a block.
        const QRect third = frame.ClickList()->visualRect(model->index(3, 0));
        QTest::mouseClick(frame.ClickList()->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(doc.selectedEvent, listModel.EventAt(3));
        const QRect sixth = frame.ClickList()->visualRect(model->index(6, 0));
        QTest::mouseClick(frame.ClickList()->viewport(), Qt::LeftButton, Qt::ShiftModifier, sixth.center());
        QVERIFY(doc.HasBlock());
        QCOMPARE(model->rowCount(), doc.events.Size() - 2 + 2);  // the two block rows
    }

    void progressWindowShowsTheTasksAndAsksBeforeStopping()
    {
        auto app = MakeApp();
        CMainFrame& frame = app->Frame();
        bool checkedDuringRun = false;
        app->Ui().OnProgressCreated([&](CQtProgressWnd& p) {
            p.afterPump = [&](CQtProgressWnd& w) {
                if (checkedDuringRun || w.Pumps() < 3) return;
                checkedDuringRun = true;
                QCOMPARE(w.StageName(0), std::string("Scan for Tracks and Clicks"));
                QCOMPARE(w.StageName(1), std::string("Generate Corrections"));
                QCOMPARE(w.CurrentStage(), 0);
                QVERIFY(w.TaskList()->isVisible());
                QVERIFY(!frame.isEnabled());
                QVERIFY(frame.Busy());
                QVERIFY(!frame.Action("open")->isEnabled());
                QVERIFY(!frame.Action("autoScanOptions")->isEnabled());
                QTest::mouseClick(w.CancelButton(), Qt::LeftButton);
            };
        });
        std::string asked;
        app->Ui().SetAnswerer([&](const CQtInteraction::Question& q) -> std::optional<MbAnswer> {
            asked = q.text;
            if (q.buttons != MbButtons::YesNoCancel) return MbAnswer::Yes;
            return MbAnswer::Cancel;  // go on loading and scanning
        });
        QVERIFY(frame.OpenFile(demoPath_).Ok());
        QVERIFY(checkedDuringRun);
        QCOMPARE(asked, std::string(cancel::kContinueWithoutClickScan));
        QVERIFY(frame.isEnabled());
        QCOMPARE(frame.StatusPaneText(1), QString(" Ready to Save"));
    }

    void autoScanOptionsSwitchesSourceAndRestoresAdvancedDefaults()
    {
        auto app = MakeApp(false);
        CMainFrame& frame = app->Frame();
        WhenModal<CScanOptionsDialog>([](CScanOptionsDialog& d) {
            QCOMPARE(d.windowTitle(), QString("Auto-Scan Options"));
            QCOMPARE(d.MainSlider()->value(), 3);  // never set: opens at 3
            QCOMPARE(d.MainLabel()->text(), QString(" Click Threshold = 3 "));
            QVERIFY(!d.AdvancedShown());
            d.AdvancedButton()->click();
            QVERIFY(d.AdvancedShown());
            QCOMPARE(d.AdvancedButton()->text(), QString("Advanced <<"));
            d.TapeButton()->click();
            QCOMPARE(d.MainSlider()->maximum(), 3);
            QCOMPARE(d.MainLabel()->text(), QString(" Hiss Reduction: 14dB "));
            QVERIFY(!d.AgcSlider()->isEnabled());
            QVERIFY(!d.DifferentialButton()->isEnabled());
            d.VinylButton()->click();
            QCOMPARE(d.MainSlider()->maximum(), 5);
            QCOMPARE(d.MainSlider()->value(), 3);
            d.NarrowButton()->click();
            d.AgcSlider()->setValue(2);
            QCOMPARE(d.Note()->text(), QString("WARNING! Advanced options are set.\nClick here to change:"));
            d.AdvDefaultsButton()->click();
            QCOMPARE(d.AgcSlider()->value(), 0);
            QVERIFY(!d.NarrowButton()->isChecked());
            QCOMPARE(d.Note()->text(), QString("For Advanced Options click here:\n(for expert users only):"));
            d.MainSlider()->setValue(5);
            QCOMPARE(d.MainSlider()->toolTip(),
                     QString("Click detection sensitivity; a higher value means more clicks will be detected"));
            d.accept();
        });
        frame.Action("autoScanOptions")->trigger();
        QCOMPARE(app->Store().Get(settings::Sensitivity), 5);
        QCOMPARE(app->Doc().sensitivity, 5);
        QCOMPARE(app->Store().Get(settings::CorWidth), settings::kCorWidthNormal);
    }

    void rescanForTracksDialogChoicesReachTheDocument()
    {
        auto app = MakeApp();
        CMainFrame& frame = app->Frame();
        QVERIFY(frame.OpenFile(demoPath_).Ok());
        app->Ui().SetAnswerer([](const CQtInteraction::Question&) { return MbAnswer::Ok; });
        WhenModal<CRescanTracksDialog>([](CRescanTracksDialog& d) {
            QVERIFY(d.UserAssistedButton()->isChecked());
            QVERIFY(d.TargetList()->isEnabled());
            QCOMPARE(d.TargetList()->count(), 29);
            d.AutoDetectButton()->click();
            QVERIFY(!d.TargetList()->isEnabled());
            d.RemoveAllButton()->click();
            d.GaplessBox()->setChecked(true);
            d.accept();
        });
        frame.Action("rescanTracks")->trigger();
        QCOMPARE(app->Doc().TrackCount(), 1);
        QCOMPARE(app->Doc().gapless, 1);
        QCOMPARE(app->Store().Get(settings::Gapless), 1);
        QCOMPARE(frame.StatusPaneText(3), QString("Tracks: 1"));
        QVERIFY(frame.Action("gapless")->isChecked());
    }

    void statusBarShowsMakingCorrectionsAndGivesTheIndicatorsBack()
    {
        for (const bool cancelHalfway : {false, true}) {
            auto app = MakeApp();
            CMainFrame& frame = app->Frame();
            CQuillon3Doc& doc = app->Doc();
            QStringList during, expected;
            bool cancelled = false;
            app->Ui().OnProgressCreated([&](CQtProgressWnd& p) {
                p.afterPump = [&](CQtProgressWnd& w) {
                    if (w.CurrentStage() != 1 || !during.isEmpty()) return;
                    during = {frame.StatusPaneText(1), frame.StatusPaneText(2), frame.StatusPaneText(3)};
                    expected = {QString("Clicks: %1").arg(doc.events.Size() - 2 * doc.tracks.Size()),
                                QString("Tracks: %1").arg(doc.tracks.Size() - 1)};
                    if (cancelHalfway) {
                        cancelled = true;
                        QTest::mouseClick(w.CancelButton(), Qt::LeftButton);
                    }
                };
            });
            std::string asked;
            app->Ui().SetAnswerer([&](const CQtInteraction::Question& q) -> std::optional<MbAnswer> {
                asked = q.text;
                return MbAnswer::Yes;
            });
            frame.OpenFile(demoPath_);
            QCOMPARE(during.size(), 3);
            QCOMPARE(during[0], QString("Making Corrections..."));
            QCOMPARE(during[1], expected[0]);
            QCOMPARE(during[2], expected[1]);
            QCOMPARE(cancelled, cancelHalfway);
            if (cancelHalfway) QCOMPARE(asked, std::string(cancel::kReallyCancel));
            // However generation ended, the panes show the document's state again.
            QCOMPARE(frame.StatusPaneText(1), QString::fromStdString(" " + StatusWord(doc.status)));
            QCOMPARE(frame.StatusPaneText(2), QString::fromStdString(ClicksIndicator(doc)));
            QCOMPARE(frame.StatusPaneText(3), QString::fromStdString(TracksIndicator(doc, std::nullopt)));
            QVERIFY(frame.StatusPaneText(1) != during[0]);
        }
    }

    void selectFilePathsShowsAndStoresTheFolders()
    {
        auto app = MakeApp();
        CMainFrame& frame = app->Frame();
        ISettingsStore& store = app->Store();
        store.Set(settings::TempMode, settings::kTempModeUser);
        store.Set(settings::TempPath, "/srv/kelvane-work");
        store.Set(settings::OutputPath, "/srv/music");
        auto okButton = [](CPathsDialog& d) {
            return d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        };

        WhenModal<CPathsDialog>([&](CPathsDialog& d) {
            QCOMPARE(d.windowTitle(), QString("Select File Paths"));
            QVERIFY(d.UserTempButton()->isChecked());
            QCOMPARE(d.TempField()->text(), QString("/srv/kelvane-work"));
            QVERIFY(!d.TempField()->isReadOnly());
            QVERIFY(d.OutputUserButton()->isChecked());
            QCOMPARE(d.OutputField()->text(), QString("/srv/music"));
            QVERIFY(d.OutputField()->isEnabled());

            // The other two choices show their folders, and cannot be edited.
            d.SystemTempButton()->click();
            QCOMPARE(d.TempField()->text(), QDir::toNativeSeparators(QDir::tempPath()));
            QVERIFY(d.TempField()->isReadOnly());
            d.SameFolderButton()->click();
            QCOMPARE(d.TempField()->text(), QDir::toNativeSeparators(QDir::currentPath()));

            // OK waits for a named folder wherever the user must name one.
            d.UserTempButton()->click();
            QCOMPARE(d.TempField()->text(), QString("/srv/kelvane-work"));
            d.TempField()->selectAll();
            QTest::keyClick(d.TempField(), Qt::Key_Delete);
            QVERIFY(!okButton(d)->isEnabled());
            QTest::keyClicks(d.TempField(), "/scratch");
            QVERIFY(okButton(d)->isEnabled());
            d.OutputSameButton()->click();
            QVERIFY(!d.OutputField()->isEnabled());
            QVERIFY(d.OutputField()->text().isEmpty());
            d.OutputUserButton()->click();
            QVERIFY(!okButton(d)->isEnabled());
            QTest::keyClicks(d.OutputField(), "/srv/tracks");
            QVERIFY(okButton(d)->isEnabled());
            okButton(d)->click();
        });
        frame.Action("paths")->trigger();
        QCOMPARE(store.Get(settings::TempMode), settings::kTempModeUser);
        QCOMPARE(store.Get(settings::TempPath), std::string("/scratch"));
        QCOMPARE(store.Get(settings::OutputPath), std::string("/srv/tracks"));

        // The system folder keeps the user's folder for later; the input's
        // folder for output is stored as an empty path.
        WhenModal<CPathsDialog>([&](CPathsDialog& d) {
            d.SystemTempButton()->click();
            d.OutputSameButton()->click();
            okButton(d)->click();
        });
        frame.Action("paths")->trigger();
        QCOMPARE(store.Get(settings::TempMode), settings::kTempModeSystem);
        QCOMPARE(store.Get(settings::TempPath), std::string("/scratch"));
        QCOMPARE(store.Get(settings::OutputPath), std::string());

        // Cancel stores nothing.
        WhenModal<CPathsDialog>([&](CPathsDialog& d) {
            QVERIFY(d.SystemTempButton()->isChecked());
            QVERIFY(d.OutputSameButton()->isChecked());
            d.SameFolderButton()->click();
            d.reject();
        });
        frame.Action("paths")->trigger();
        QCOMPARE(store.Get(settings::TempMode), settings::kTempModeSystem);
    }

    void tipOfTheDayAtStartUpStepsThroughTheTipsAndRemembers()
    {
        const CTipFile tips(CTipDialog::TipsText().toStdString());
        const auto first = tips.TipAt(0);
        QVERIFY(first);
        const auto second = tips.TipAt(first->next);
        const auto third = tips.TipAt(second->next);
        StartupOptions options;
        options.noSplash = true;

        auto app = MakeApp();
        app->Start(options);
        auto* tip = app->Frame().findChild<CTipDialog*>();
        QVERIFY(tip && tip->isVisible() && tip->isModal());
        QCOMPARE(tip->windowTitle(), QString("Tip of the Day"));
        QCOMPARE(tip->TipLabel()->text(), QString::fromStdString(first->text));
        QVERIFY(tip->StartupBox()->isChecked());
        tip->NextButton()->click();
        QCOMPARE(tip->TipLabel()->text(), QString::fromStdString(second->text));
        tip->CloseButton()->click();
        QTRY_VERIFY(!app->Frame().findChild<CTipDialog*>());
        QCOMPARE(app->Store().Get(settings::TipFilePos), static_cast<int>(second->next));
        QCOMPARE(app->Store().Get(settings::TipStartUp), 0);

        // The Help menu goes on where the last tip ended; switched off, the
        // next start shows none.
        app->Frame().Action("tip")->trigger();
        tip = app->Frame().findChild<CTipDialog*>();
        QVERIFY(tip);
        QCOMPARE(tip->TipLabel()->text(), QString::fromStdString(third->text));
        tip->StartupBox()->setChecked(false);
        tip->reject();
        QTRY_VERIFY(!app->Frame().findChild<CTipDialog*>());
        QCOMPARE(app->Store().Get(settings::TipStartUp), 1);
        QCOMPARE(app->Store().Get(settings::TipFilePos), static_cast<int>(third->next));
        app->Start(options);
        QVERIFY(!app->Frame().findChild<CTipDialog*>());
    }

    void fadeTypeCommandsSetTheLawTheSaveUsesWithOneRadioMark()
    {
        auto app = MakeApp();
        CMainFrame& frame = app->Frame();
        QAction* linear = frame.Action("fadeLinear");
        QAction* log = frame.Action("fadeLog");
        QVERIFY(linear->actionGroup() && linear->actionGroup() == log->actionGroup());
        QVERIFY(linear->actionGroup()->isExclusive());
        QVERIFY(!linear->isChecked() && log->isChecked());

        // A stored value the program never writes fades logarithmically,
        // and the mark shows it.
        app->Store().Set(settings::FadeLinear, 2);
        frame.UpdateCommands();
        QVERIFY(!linear->isChecked() && log->isChecked());

        for (int round = 0; round < 2; ++round) {  // choosing the checked item again keeps it
            linear->trigger();
            QCOMPARE(app->Store().Get(settings::FadeLinear), 1);
            QVERIFY(linear->isChecked() && !log->isChecked());
        }
        QCOMPARE(ExportOptions::FromSettings(app->Store()).fade, FadeShape::Linear);
        log->trigger();
        QCOMPARE(app->Store().Get(settings::FadeLinear), 0);
        QVERIFY(!linear->isChecked() && log->isChecked());
        QCOMPARE(ExportOptions::FromSettings(app->Store()).fade, FadeShape::Logarithmic);
    }

    void stripTrackButtonsShowWhichIsChosen()
    {
        auto app = MakeApp();
        CMainFrame& frame = app->Frame();
        QVERIFY(frame.OpenFile(demoPath_).Ok());
        QRadioButton* all = nullptr;
        QRadioButton* one = nullptr;
        for (QRadioButton* b : frame.Strip()->findChildren<QRadioButton*>())
            (b->text() == "All Tracks" ? all : one) = b;
        QVERIFY(all && one);
        // The middle of each button's indicator as it is drawn: the chosen
        // one must carry a mark the other does not.
        auto dot = [](QRadioButton* b) {
            QStyleOptionButton option;
            option.initFrom(b);
            const QRect indicator = b->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, b);
            const QImage image = b->grab().toImage();
            const qreal ratio = image.devicePixelRatio();
            return QColor(image.pixel(indicator.center() * ratio)).lightness();
        };
        auto differ = [](int a, int b) { return std::abs(a - b) >= 96; };
        QVERIFY(all->isChecked() && !one->isChecked());
        QVERIFY2(differ(dot(all), dot(one)), qPrintable(QString("%1 vs %2").arg(dot(all)).arg(dot(one))));

        one->click();
        QCOMPARE(app->Doc().currentTrack, 1);
        QCOMPARE(one->text(), QString("Track 1"));
        QVERIFY(one->isChecked() && !all->isChecked());
        QVERIFY2(differ(dot(one), dot(all)), qPrintable(QString("%1 vs %2").arg(dot(one)).arg(dot(all))));
        all->click();
        QCOMPARE(app->Doc().currentTrack, 0);
    }

    void screenshotRendersTheProcessedWindow()
    {
        auto app = MakeApp();
        const QString out = QString::fromStdString(demoDir_->file("main.png").string());
        QCOMPARE(TakeScreenshot(*app, "main", demoPath_, out), 0);
        const QImage image(out);
        QVERIFY(image.width() >= 1000 && image.height() >= 700);
    }

    void stripGeometry()
    {
        // A block quieter than 40 log10(L) = 230 shows a 2-pixel bar.
        QCOMPARE(strip::kBarBottom - strip::BarTop(0), 2);
        QCOMPARE(strip::kBarBottom - strip::BarTop(1000), 2);
        QVERIFY(strip::BarTop(100000000) < strip::BarTop(10000000));
        QVERIFY((strip::TrackColour(1) == strip::Rgb{255, 160, 160}));
        QVERIFY((strip::TrackColour(2) == strip::Rgb{160, 160, 255}));
        QVERIFY((strip::TickColour({1, 0, 0, 3, 20}) == strip::Rgb{255, 255, 0}));
        QCOMPARE(strip::SignatureY(30), 30);
        const strip::Scale scale{44, 44 + 4000 * 4, 1000};
        QCOMPARE(scale.X(44 + 2000 * 4), 500);
        QCOMPARE(scale.Position(500), 44 + 2000 * 4);
    }

private:
    std::unique_ptr<test::TempDir> demoDir_;
    QString demoPath_;
};

QTEST_MAIN(GuiTest)
#include "GuiTest.moc"
