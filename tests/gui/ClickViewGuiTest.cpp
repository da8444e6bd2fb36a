// The waveform view on the offscreen platform, driven by synthetic mouse and
// key events over a generated side of two tracks with three corrections:
// the width drags at S = 5 and S = 50, a boundary dropped between sectors,
// the arrow keys at a boundary, the adjust question at 2000 frames per
// division, the double clicks, a block dragged and cancelled with Q, the
// Delete key with its questions, the context menu, and pixels of a rendered
// picture (trace colours, the marker fill, the inverted block, the grey
// area outside the data).

#include "app/CKelvaneBar.h"
#include "app/CMainFrame.h"
#include "app/CQtInteraction.h"
#include "app/Startup.h"
#include "declick/ui/CClickList.h"
#include "declick/CCorrector.h"
#include "declick/ui/CScanOptionsDialog.h"
#include "declick/ClickListRows.h"
#include "declick/CorrectionEdit.h"
#include "document/DocumentOpen.h"
#include "operations/EditCorrections.h"
#include "operations/Rescan.h"
#include "settings/SettingsStore.h"
#include "tests/support/Demo.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/Signals.h"
#include "tests/support/TempDir.h"
#include "tests/support/WavWriter.h"
#include "tracks/TrackMarkers.h"
#include "views/CBoundaryFade.h"
#include "views/CClickView.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QAction>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace kelvane;

namespace {

constexpr int kRate = 44100;
constexpr int kWidth = 1000;
constexpr int kHeight = 400;
constexpr double kCentre = kWidth / 2.0;

// Scale entries of the 44.1 kHz table.
constexpr int kS5 = 1, kS50 = 4, kS500 = 7, kS2000 = 9;

// A 20-second side: a tone in two tracks around a silent gap from 9 to 11 s,
// clicks at 3, 5 and 14 s with their corrections made.
struct ViewSide {
    test::TempDir dir{"kelvane-clickview"};
    CMemorySettings settings;
    test::ScriptedInteraction ui;
    CQuillon3Doc doc{settings, ui};
    std::unique_ptr<CClickView> view;
    bool ok = false;

    ViewSide()
    {
        settings.Set(settings::TempMode, settings::kTempModeSameFolder);
        std::vector<int32_t> samples = test::Sine(441, 8000, 20 * kRate);
        for (size_t f = 9 * kRate; f < 11 * kRate; ++f) samples[2 * f] = samples[2 * f + 1] = 0;
        for (int s : {3, 5, 14}) test::AddClick(samples, 2, static_cast<size_t>(s * kRate), 12, 20000, 3, 7);
        test::WavOptions opts;
        opts.sampleRate = kRate;
        if (!test::WriteWav(dir.file("side.wav"), opts, samples)) return;
        if (!OpenRecording(doc, dir.file("side.wav").string()).Ok()) return;
        if (LoadRecording(doc, nullptr) != LoadOutcome::Completed) return;
        for (int s : {3, 5, 14}) {
            doc.events.InsertAt(doc.events.Size() - 1, EventRecord{1, 0, Pos(s * kRate), 40, 500});
            CountCorrection(doc, Pos(s * kRate), +1);
        }
        CCorrector(doc).GenerateAll(doc.events);
        AddTrack(2 * kSectorBytes, Sector(Pos(9 * kRate)));
        AddTrack(Sector(Pos(11 * kRate)), doc.dataEnd);
        RebuildTrackMarkers(doc);
        doc.status = kStatusReadyToSave;
        view = std::make_unique<CClickView>(doc);
        view->resize(kWidth, kHeight);
        view->show();
        ok = true;
    }
    ~ViewSide() { view.reset(); }

    int32_t Pos(int frame) const { return doc.dataStart + 4 * frame; }
    int32_t Sector(int32_t pos) const { return doc.dataAlign + pos / kSectorBytes * kSectorBytes; }
    void AddTrack(int32_t start, int32_t end)
    {
        TrackRecord t;
        t.start = start;
        t.end = end;
        doc.tracks.Add(t);
    }
    int32_t Index(int32_t pos, bool marker = false, int32_t width = 0) const
    {
        for (int32_t i = 1; i < doc.events.Size() - 1; ++i)
            if (doc.events[i].pos == pos && doc.events[i].IsMarker() == marker && (!marker || doc.events[i].width == width))
                return i;
        return 0;
    }
    void Select(int32_t index)
    {
        SelectEvent(doc, index);
        doc.NotifyUpdate();
    }
    void Cursor(int32_t pos)
    {
        SelectEvent(doc, -1);
        doc.cursorEvent.pos = pos;
        doc.NotifyUpdate();
    }
    void Mouse(QEvent::Type type, double x, Qt::MouseButtons buttons = Qt::NoButton,
               Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const QPointF at(x, kHeight / 3.0);
        QMouseEvent event(type, at, view->mapToGlobal(at), button, buttons, mods);
        QApplication::sendEvent(view.get(), &event);
    }
    void Drag(double from, double to, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, mods);
        Mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton, mods);
        Mouse(QEvent::MouseMove, to, Qt::LeftButton, mods);
        Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton, mods);
    }
    void DoubleClick(double x)
    {
        Mouse(QEvent::MouseButtonPress, x, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, x);
        Mouse(QEvent::MouseButtonDblClick, x, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, x);
    }
    int32_t Corrections() const
    {
        int32_t n = 0;
        for (int32_t i = 1; i < doc.events.Size() - 1; ++i) n += doc.events[i].IsCorrection();
        return n;
    }
};

QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

void MouseOn(QWidget& w, QEvent::Type type, double x, Qt::MouseButtons buttons)
{
    const QPointF at(x, w.height() / 2.0);
    QMouseEvent event(type, at, w.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void DragOn(QWidget& w, double from, double to)
{
    MouseOn(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    MouseOn(w, QEvent::MouseMove, to, Qt::LeftButton);
    MouseOn(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

int Count(const QImage& image, int x0, int x1, QColor colour)
{
    int n = 0;
    for (int x = x0; x < x1; ++x)
        for (int y = 0; y < image.height(); ++y) n += image.pixelColor(x, y) == colour;
    return n;
}

}  // namespace

class ClickViewGuiTest : public QObject {
    Q_OBJECT

private slots:
    void widthDragsGiveTheCodesOfTheScale()
    {
        ViewSide s;
        QVERIFY(s.ok);
        const int32_t i = s.Index(s.Pos(3 * kRate));
        QVERIFY(i > 0);
        s.Select(i);
        s.view->SetScaleIndex(kS5);
        QCOMPARE(s.view->FramesPerDivision(), 5);
        // Width 40: the marker's half-width is (10 x 25 + 25) / 5 = 55 pixels.
        s.Drag(kCentre + 55, kCentre + 100);
        QCOMPARE(s.doc.events[i].width, 80);
        QVERIFY(s.view->Adjusting());
        QVERIFY(s.view->AdjustDialog()->isVisible());
        QCOMPARE(s.view->AdjustDialog()->windowTitle(), QString("User Adjust Mode"));
        QCOMPARE(s.view->AdjustDialog()->findChild<QLabel*>()->text(), QString(kAdjustCorrectionText));
        s.view->AbortAdjust();
        QCOMPARE(s.doc.events[i].width, 40);
        QVERIFY(!s.view->Adjusting());

        s.view->SetScaleIndex(kS50);
        s.Drag(kCentre - 5, kCentre - 100);  // the left edge, (10 x 25 + 25) / 50 = 5 pixels out
        QCOMPARE(s.doc.events[i].width, 300);
        s.view->ApplyAdjust();
        QCOMPARE(s.doc.events[i].width, 300);
        QCOMPARE(s.doc.events[i].mag, event::kMagEdited);
        QVERIFY(!s.view->AdjustDialog()->isVisible());

        // A block marked elsewhere during an adjustment aborts it.
        s.view->SetScaleIndex(kS5);
        s.Drag(kCentre - 380, kCentre - 100);  // width 300: (75 x 25 + 25) / 5 = 380 pixels out
        QVERIFY(s.view->Adjusting());
        QCOMPARE(s.doc.events[i].width, 80);
        MarkBlock(s.doc, s.Pos(2 * kRate), s.Pos(4 * kRate));
        QVERIFY(!s.view->Adjusting());
        QCOMPARE(s.doc.events[i].width, 300);
    }

    void aBoundaryDroppedBetweenSectorsSnapsToTheGrid()
    {
        ViewSide s;
        QVERIFY(s.ok);
        const int32_t start2 = s.doc.tracks[2].start;
        const int32_t i = s.Index(start2, true, event::TrackStartMarker(2));
        QVERIFY(i > 0);
        s.Select(i);
        s.view->SetScaleIndex(kS500);  // 40 position units a pixel
        // 73 pixels: 2920 units, between the first and the second sector.
        s.Drag(kCentre, kCentre + 73);
        QVERIFY(s.view->Adjusting());
        QCOMPARE(s.view->AdjustDialog()->findChild<QLabel*>()->text(), QString(kAdjustBoundaryText));
        QVERIFY(s.Index(start2 + kSectorBytes, true, event::TrackStartMarker(2)) > 0);
        s.view->ApplyAdjust();
        QCOMPARE(s.doc.tracks[2].start, start2 + kSectorBytes);
        QCOMPARE((s.doc.tracks[2].start - s.doc.dataAlign) % kSectorBytes, 0);
        QVERIFY(!s.view->Adjusting());
    }

    void aMovedBoundaryTakesItsFadesFromTheFadeDisplay()
    {
        ViewSide s;
        QVERIFY(s.ok);
        CBoundaryFade fade(s.doc);
        fade.resize(400, 48);
        fade.show();
        s.view->SetFadeDisplay(&fade);
        const int32_t start2 = s.doc.tracks[2].start;
        s.Select(s.Index(start2, true, event::TrackStartMarker(2)));
        QCOMPARE(fade.Lengths(), (fadeview::FadeLengths{0, 0}));
        // 5 s a half over 200 pixels: 4410 units a pixel. Both handles sit at
        // the boundary; the side of the press picks the fade or the silence.
        DragOn(fade, 202, 300);
        DragOn(fade, 198, 150);
        QCOMPARE(fade.Lengths(), (fadeview::FadeLengths{100 * 4410, 50 * 4410}));
        s.view->SetScaleIndex(kS500);
        s.Drag(kCentre, kCentre + 73);
        s.view->ApplyAdjust();
        QCOMPARE(s.doc.tracks[2].start, start2 + kSectorBytes);
        QCOMPARE(s.doc.tracks[2].fadeIn, 100 * 4410);
        QCOMPARE(s.doc.tracks[2].preSilence, 50 * 4410);
        QImage image = fade.Render(QSize(400, 48));
        QCOMPARE(At(image, 250, 40), QColor(255, 255, 0));  // the fade's ramp
        // With gapless tracks an inner boundary has no fades to show.
        s.doc.gapless = 1;
        image = fade.Render(QSize(400, 48));
        QCOMPARE(At(image, 5, 5), QColor(128, 128, 0));
    }

    void arrowKeysStopAtABoundary()
    {
        ViewSide s;
        QVERIFY(s.ok);
        const int32_t end1 = s.doc.tracks[1].end;
        s.view->SetScaleIndex(kS500);
        s.Cursor(end1 - 400);  // 100 frames before the end of track 1
        QTest::keyClick(s.view.get(), Qt::Key_Right);
        QCOMPARE(s.doc.selectedEvent, s.Index(end1, true, event::TrackEndMarker(1)));
        QTest::keyClick(s.view.get(), Qt::Key_Right);
        QCOMPARE(s.doc.selectedEvent, -1);
        QCOMPARE(s.doc.cursorEvent.pos, end1 + 500 * 4);
        // Back again: the boundary stops the cursor from the other side too.
        QTest::keyClick(s.view.get(), Qt::Key_Left);
        QCOMPARE(s.doc.selectedEvent, s.Index(end1, true, event::TrackEndMarker(1)));
    }

    void theScrollBarFollowsTheViewAndMovesIt()
    {
        ViewSide s;
        QVERIFY(s.ok);
        QScrollBar bar;
        s.view->SetScrollBar(&bar);
        s.view->SetScaleIndex(kS500);
        const int frames = (s.doc.dataEnd - s.doc.dataStart) / 4;
        QCOMPARE(bar.minimum(), 0);
        QCOMPARE(bar.maximum(), frames);
        QCOMPARE(bar.pageStep(), 500 * kWidth / 50);
        // The view moving (a correction made current, the arrow keys) moves it.
        const int32_t click = s.Index(s.Pos(5 * kRate));
        s.Select(click);
        QCOMPARE(bar.value(), 5 * kRate);
        s.Cursor(s.Pos(2 * kRate));
        QTest::keyClick(s.view.get(), Qt::Key_Right);
        QCOMPARE(bar.value(), 2 * kRate + 500);
        // Zooming keeps the centre and changes the page.
        s.view->ZoomIn();
        QCOMPARE(bar.pageStep(), 200 * kWidth / 50);
        QCOMPARE(bar.value(), 2 * kRate + 500);
        // Moving it puts the cursor at its centre frame, away from the
        // correction that was current.
        s.Select(click);
        bar.setValue(7 * kRate);
        QCOMPARE(s.doc.selectedEvent, -1);
        QCOMPARE(s.doc.cursorEvent.pos, s.Pos(7 * kRate));
        bar.triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(s.doc.cursorEvent.pos, s.Pos(7 * kRate + 200 * kWidth / 50));
        // While a correction is being adjusted the bar stays on it.
        s.Select(click);
        QVERIFY(s.view->StartAdjust());
        bar.setValue(kRate);
        QCOMPARE(s.doc.selectedEvent, click);
        QCOMPARE(bar.value(), 5 * kRate);
        s.view->AbortAdjust();
    }

    void aWiderWindowLimitsTheScaleWithoutForgettingIt()
    {
        ViewSide s;
        QVERIFY(s.ok);
        s.view->SetScaleIndex(13);  // 44100 frames a division: the whole side in 20 divisions
        QCOMPARE(s.view->ScaleIndex(), 13);
        QCOMPARE(s.settings.Get(settings::WaveScale), 13);
        s.view->resize(1200, kHeight);  // 24 divisions would show more than the side
        QCOMPARE(s.view->ScaleIndex(), 12);
        QCOMPARE(s.settings.Get(settings::WaveScale), 13);
        s.view->resize(kWidth, kHeight);
        QCOMPARE(s.view->ScaleIndex(), 13);
        s.view->ZoomIn();
        QCOMPARE(s.settings.Get(settings::WaveScale), 12);
    }

    void adjustAtTwoThousandFramesAsksAndNoLeavesTheModeOff()
    {
        ViewSide s;
        QVERIFY(s.ok);
        s.Select(s.Index(s.Pos(5 * kRate)));
        s.view->SetScaleIndex(kS2000);
        s.ui.Expect(kMsgAdjustScale, MbAnswer::No);
        QTest::keyClick(s.view.get(), Qt::Key_Insert);
        QCOMPARE(s.ui.PendingCount(), size_t(0));
        QVERIFY(!s.view->Adjusting());
        QCOMPARE(s.view->FramesPerDivision(), 2000);

        s.ui.Expect(kMsgAdjustScale, MbAnswer::Yes);
        QTest::keyClick(s.view.get(), Qt::Key_Insert);
        QVERIFY(s.view->Adjusting());
        QCOMPARE(s.view->FramesPerDivision(), 100);
        s.view->AbortAdjust();
    }

    void doubleClicksMakeACorrectionCurrentOrInsertOne()
    {
        ViewSide s;
        QVERIFY(s.ok);
        s.view->SetScaleIndex(kS50);  // four position units a pixel
        const int32_t corr = s.Pos(5 * kRate);
        s.Cursor(corr + 160);
        s.DoubleClick(kCentre - 40 + 2);  // 8 units after the correction
        QCOMPARE(s.doc.selectedEvent, s.Index(corr));

        s.Cursor(s.Pos(7 * kRate));
        const int before = s.Corrections();
        s.DoubleClick(kCentre + 200);
        QVERIFY(s.doc.selectedEvent > 0);
        const EventRecord& inserted = s.doc.events[s.doc.selectedEvent];
        QCOMPARE(inserted.mag, event::kMagAdjusting);
        QCOMPARE(inserted.pos, s.Pos(7 * kRate) + 800);
        QCOMPARE(s.Corrections(), before + 1);
        // The Insert key opens it as an insert.
        QTest::keyClick(s.view.get(), Qt::Key_Insert);
        QCOMPARE(s.view->AdjustDialog()->windowTitle(), QString(kInsertTitle));
        s.view->AbortAdjust();
    }

    void aDraggedBlockIsCancelledWithQ()
    {
        ViewSide s;
        QVERIFY(s.ok);
        s.view->SetScaleIndex(kS50);
        s.Cursor(s.Pos(6 * kRate));
        s.Drag(300, 450);
        QVERIFY(s.doc.HasBlock());
        QCOMPARE(s.doc.blockStart, s.Pos(6 * kRate) - 200 * 4);
        QCOMPARE(s.doc.blockEnd, s.Pos(6 * kRate) - 50 * 4);
        // The middle moves it, keeping its length.
        s.Drag(375, 425);
        QCOMPARE(s.doc.blockStart, s.Pos(6 * kRate) - 150 * 4);
        QCOMPARE(s.doc.blockEnd - s.doc.blockStart, 150 * 4);
        QTest::keyClick(s.view.get(), Qt::Key_Q);
        QVERIFY(!s.doc.HasBlock());
        // Too short a drag marks nothing.
        s.Drag(300, 302);
        QVERIFY(!s.doc.HasBlock());
    }

    void deleteAsksForTheCorrectionAndForTheBlock()
    {
        ViewSide s;
        QVERIFY(s.ok);
        const int32_t c3 = s.Pos(3 * kRate), c14 = s.Pos(14 * kRate);
        s.Select(s.Index(c3));
        s.ui.Expect(kMsgRemoveCurrent, MbAnswer::Cancel);
        QTest::keyClick(s.view.get(), Qt::Key_Delete);
        QVERIFY(s.Index(c3) > 0);
        s.ui.Expect(kMsgRemoveCurrent, MbAnswer::Ok);
        QTest::keyClick(s.view.get(), Qt::Key_Delete);
        QCOMPARE(s.Index(c3), 0);
        QCOMPARE(s.doc.cursorEvent.pos, c3);

        MarkBlock(s.doc, c14 - 4000, c14 + 4000);
        s.ui.Expect(kMsgRemoveBlock, MbAnswer::Ok);
        QTest::keyClick(s.view.get(), Qt::Key_Delete);
        QCOMPARE(s.Index(c14), 0);
        QCOMPARE(s.Corrections(), 1);
        QCOMPARE(s.ui.PendingCount(), size_t(0));

        // Under a filter pass nothing is restored from the source: the key
        // does nothing and asks nothing, as the menus' rule says.
        s.view->CancelBlock();
        const int32_t c5 = s.Pos(5 * kRate);
        s.Select(s.Index(c5));
        s.doc.filtersApplied = 1;
        const size_t asked = s.ui.Messages().size();
        QTest::keyClick(s.view.get(), Qt::Key_Delete);
        QCOMPARE(s.ui.Messages().size(), asked);
        QVERIFY(s.Index(c5) > 0);
    }

    void contextMenuFollowsTheBlock()
    {
        ViewSide s;
        QVERIFY(s.ok);
        s.Cursor(s.Pos(6 * kRate));
        std::unique_ptr<QMenu> plain(s.view->BuildContextMenu(nullptr));
        QCOMPARE(plain->actions().size(), 1);
        QCOMPARE(plain->actions()[0]->text(), QString("Split Track"));
        MarkBlock(s.doc, s.Pos(2 * kRate), s.Pos(6 * kRate));
        std::unique_ptr<QMenu> block(s.view->BuildContextMenu(nullptr));
        QStringList texts;
        for (QAction* a : block->actions()) texts << a->text();
        QCOMPARE(texts, (QStringList{"Play Block - Original", "Play Block - Corrected", "Remove Corrections", "Re-Scan",
                                     "Super-Scan", "Merge Tracks in Block", "Cancel Block\tQ"}));
        QVERIFY(!block->actions()[0]->isEnabled());
        QVERIFY(block->actions()[2]->isEnabled());
        block->actions()[6]->trigger();
        QVERIFY(!s.doc.HasBlock());
    }

    void renderedPixels()
    {
        ViewSide s;
        QVERIFY(s.ok);
        // Close on the correction at 3 s: marker fill, both traces.
        s.Select(s.Index(s.Pos(3 * kRate)));
        s.view->SetScaleIndex(kS5);
        QImage image = s.view->Render(QSize(kWidth, kHeight));
        QVERIFY(Count(image, 446, 447, QColor(255, 255, 192)) > kHeight / 2);
        QVERIFY(Count(image, 445, 555, QColor(0, 0, 255)) > 0);     // the click, uncorrected
        QVERIFY(Count(image, 445, 555, QColor(0, 192, 0)) > 0);     // corrected left
        QVERIFY(Count(image, 445, 555, QColor(192, 0, 0)) > 0);     // corrected right
        QCOMPARE(Count(image, 0, 300, QColor(255, 255, 192)), 0);   // the fill stays on the marker

        // At the start of the data: grey before it.
        s.Cursor(s.doc.dataStart + 40);
        s.view->SetScaleIndex(kS50);
        image = s.view->Render(QSize(kWidth, kHeight));
        QCOMPARE(At(image, 100, 200), QColor(128, 128, 128));
        QCOMPARE(At(image, 480, 30), QColor(128, 128, 128));

        // A block in the silent gap, shown inverted over the Classic background.
        s.Cursor(s.Pos(10 * kRate));
        MarkBlock(s.doc, s.Pos(10 * kRate) + 40, s.Pos(10 * kRate) + 800);
        image = s.view->Render(QSize(kWidth, kHeight));
        QCOMPARE(At(image, 520, 30), QColor(150 ^ 255, 150 ^ 255, 0 ^ 255));
        QCOMPARE(At(image, 490, 30), QColor(150, 150, 0));
        s.view->SetScheme(1);
        QCOMPARE(s.settings.Get(settings::Background), 1);
        image = s.view->Render(QSize(kWidth, kHeight));
        QCOMPARE(At(image, 490, 30), QColor(255, 255, 255));
        QCOMPARE(At(image, 520, 30), QColor(0, 0, 0));
        // Far out the traces come from the block envelope.
        // Auto S.: the tone's peak (8000) fills the 48 pixels above the left
        // centre line instead of a third of them.
        s.Cursor(s.Pos(6 * kRate));
        s.doc.blockStart = s.doc.blockEnd = 0;
        image = s.view->Render(QSize(kWidth, kHeight));
        QCOMPARE(s.view->ShownVerticalScale(), 500);
        const auto greenAbove = [](const QImage& img, int y) {
            int n = 0;
            for (int yy = 0; yy < y; ++yy)
                for (int x = 0; x < img.width(); ++x) n += img.pixelColor(x, yy) == QColor(0, 192, 0);
            return n;
        };
        QCOMPARE(greenAbove(image, 150 - 30), 0);
        s.view->SetAutoScale(true);
        image = s.view->Render(QSize(kWidth, kHeight));
        QCOMPARE(s.view->ShownVerticalScale(), 267);
        QVERIFY(greenAbove(image, 150 - 30) > 0);
        QCOMPARE(greenAbove(image, 150 - 50), 0);
        s.view->SetAutoScale(false);

        // A 20-second side reaches that only in a narrow view.
        s.view->SetScheme(0);
        s.view->resize(300, kHeight);
        s.view->SetScaleIndex(20);
        QCOMPARE(s.view->FramesPerDivision(), 88200);  // the widest that fits
        image = s.view->Render(QSize(300, kHeight));
        QVERIFY(Count(image, 0, 300, QColor(0, 192, 0)) > 0);
        QVERIFY(Count(image, 0, 300, QColor(192, 0, 0)) > 0);
        QCOMPARE(Count(image, 0, 300, QColor(0, 0, 255)), 0);
    }

    void theStoredThinTraceDrawsThinnerTraces()
    {
        ViewSide s;
        QVERIFY(s.ok);
        s.Select(s.Index(s.Pos(3 * kRate)));
        s.view->SetScaleIndex(kS50);
        const QImage thick = s.view->Render(QSize(kWidth, kHeight));
        // "ThinTrace" is read when a view is made: 1-pixel corrected traces
        // and a dotted uncorrected one.
        s.settings.Set(settings::ThinTrace, 1);
        CClickView thinView(s.doc);
        thinView.resize(kWidth, kHeight);
        thinView.SetScaleIndex(kS50);
        const QImage thin = thinView.Render(QSize(kWidth, kHeight));
        for (QColor trace : {QColor(0, 192, 0), QColor(192, 0, 0)}) {
            const int wide = Count(thick, 0, kWidth, trace), narrow = Count(thin, 0, kWidth, trace);
            QVERIFY(narrow > 0);
            QVERIFY2(narrow < wide * 3 / 4, qPrintable(QString("%1 vs %2").arg(narrow).arg(wide)));
        }
        QVERIFY(Count(thin, 445, 555, QColor(0, 0, 255)) < Count(thick, 445, 555, QColor(0, 0, 255)));
    }

    void theMainWindowRunsTheBlockCommandsThroughTheView()
    {
        test::TempDir dir("kelvane-clickview-frame");
        const test::DemoRecording demo = test::MakeDemoRecording();
        QVERIFY(test::WriteWav(dir.file("demo.wav"), demo.Format(), demo.samples));
        auto store = std::make_unique<CMemorySettings>();
        store->Set(settings::Sensitivity, 3);
        CKelvaneApp app(std::move(store));
        CMainFrame& frame = app.Frame();
        frame.show();
        QVERIFY(frame.OpenFile(QString::fromStdString(dir.file("demo.wav").string())).Ok());
        CQuillon3Doc& doc = app.Doc();
        CClickView* view = frame.WaveView();
        QVERIFY(view && view->isVisible());
        QCOMPARE(view->window(), &frame);
        // The view's scroll bar sits under it and spans the side.
        auto* scroll = frame.findChild<QScrollBar*>("clickViewScroll");
        QVERIFY(scroll && scroll->isVisible());
        QCOMPARE(scroll->maximum(), (doc.dataEnd - doc.dataStart) / 4);

        for (const char* key : {"blockRemove", "blockRescan", "blockSuperScan", "blockMerge", "cancelBlock"})
            QVERIFY2(!frame.Action(key)->isEnabled(), key);
        QVERIFY(frame.Action("rescanClicks")->isEnabled());
        QVERIFY(frame.Action("superScan")->isEnabled());
        MarkBlock(doc, doc.tracks[1].start + 4 * kRate, doc.tracks[1].start + 8 * kRate);
        for (const char* key : {"blockRemove", "blockRescan", "blockSuperScan", "cancelBlock"})
            QVERIFY2(frame.Action(key)->isEnabled(), key);

        // The block's re-scan opens Scan Options under its caption; Cancel
        // leaves everything as it was.
        const int32_t before = doc.events.Size();
        QString caption;
        QTimer::singleShot(0, [&caption] {
            auto* dialog = qobject_cast<CScanOptionsDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            caption = dialog->windowTitle();
            dialog->reject();
        });
        frame.Action("blockRescan")->trigger();
        QCOMPARE(caption, QString(kCaptionRescanBlock));
        QCOMPARE(doc.events.Size(), before);
        QVERIFY(doc.HasBlock());

        // Delete reaches the view from anywhere in the window: with the
        // block marked it asks the block's question.
        std::vector<std::string> asked;
        app.Ui().SetAnswerer([&asked](const CQtInteraction::Question& q) -> std::optional<MbAnswer> {
            asked.push_back(q.text);
            return MbAnswer::Cancel;
        });
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        frame.ClickList()->setFocus();
        QTest::keyClick(frame.ClickList(), Qt::Key_Delete);
        QCOMPARE(asked, (std::vector<std::string>{kMsgRemoveBlock}));

        // Remove Corrections asks, then empties the block.
        int inBlock = 0;
        for (int32_t i = 1; i < doc.events.Size() - 1; ++i)
            inBlock += doc.events[i].IsCorrection() && doc.events[i].pos >= doc.blockStart && doc.events[i].pos <= doc.blockEnd;
        QVERIFY(inBlock > 0);
        app.Ui().SetAnswerer([](const CQtInteraction::Question& q) -> std::optional<MbAnswer> {
            return q.text == kMsgRemoveBlock ? MbAnswer::Ok : MbAnswer::Cancel;
        });
        frame.Action("blockRemove")->trigger();
        for (int32_t i = 1; i < doc.events.Size() - 1; ++i)
            QVERIFY(doc.events[i].IsMarker() || doc.events[i].pos < doc.blockStart || doc.events[i].pos > doc.blockEnd);
        frame.Action("cancelBlock")->trigger();
        QVERIFY(!doc.HasBlock());

        // Split Track, offered by the view's menu without a block, splits
        // at the cursor.
        const int32_t tracks = doc.TrackCount();
        SelectEvent(doc, -1);
        doc.cursorEvent.pos = (doc.tracks[2].start + doc.tracks[2].end) / 2;
        doc.NotifyUpdate();
        std::unique_ptr<QMenu> menu(view->BuildContextMenu(nullptr));
        QVERIFY(menu->actions()[0]->isEnabled());
        menu->actions()[0]->trigger();
        QCOMPARE(doc.TrackCount(), tracks + 1);

        // The cursor's time on the display bar counts from its track's start.
        SelectEvent(doc, -1);
        doc.cursorEvent.pos = doc.tracks[2].start + 4 * (2 * 44100 + 441);
        doc.NotifyUpdate();
        QCOMPARE(frame.DisplayBar()->CursorShown(), QString("00:02:010"));
        // A gap belongs to the track before it.
        doc.cursorEvent.pos = doc.tracks[2].start - 4 * 441;
        doc.NotifyUpdate();
        QCOMPARE(frame.DisplayBar()->CursorShown(),
                 CKelvaneBar::CursorText((doc.cursorEvent.pos - doc.tracks[1].start) / 4, doc.sampleRate));

        // The display bar follows the view's scale, and its spin sets it.
        view->SetScaleIndex(12);
        QCOMPARE(frame.DisplayBar()->HorizontalSpin()->value(), 12);
        frame.DisplayBar()->HorizontalSpin()->setValue(6);
        QCOMPARE(view->FramesPerDivision(), 200);
        frame.Action("zoomOut")->trigger();
        QCOMPARE(view->ScaleIndex(), 7);
        frame.Action("bgGrey")->trigger();
        QCOMPARE(view->Scheme(), 2);
        QVERIFY(frame.Action("bgGrey")->isChecked());
    }
};

QTEST_MAIN(ClickViewGuiTest)
#include "ClickViewGuiTest.moc"
