#include "Screenshot.h"

#include "app/CQtProgressWnd.h"
#include "app/Startup.h"
#include "declick/ui/CScanOptionsDialog.h"
#include "declick/CorrectionEdit.h"
#include "views/CClickView.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>

#include <cstdio>

namespace kelvane {

namespace {

constexpr QSize kMainSize{1100, 760};
constexpr QSize kViewSize{1000, 400};

int Save(const QPixmap& picture, const QString& out);

// The waveform view alone, close on the widest correction (its uncorrected
// and corrected traces) or at the start of track 2 (the level graph).
int SaveView(CMainFrame& frame, CQuillon3Doc& doc, const QString& kind, const QString& out)
{
    CClickView& view = *frame.WaveView();
    int32_t chosen = 0;
    for (int32_t i = 1; i < doc.events.Size() - 1; ++i) {
        const EventRecord& e = doc.events[i];
        if (kind == "boundary" ? e.width == event::TrackStartMarker(2)
                               : e.IsCorrection() && (chosen == 0 || (e.width & event::kWidthCodeMask) >
                                                                         (doc.events[chosen].width & event::kWidthCodeMask)))
            chosen = i;
    }
    if (chosen == 0) {
        std::fprintf(stderr, "kelvane: the recording has no %s to show\n", qPrintable(kind));
        return 1;
    }
    SelectEvent(doc, chosen);
    doc.NotifyUpdate();
    view.resize(kViewSize);
    if (kind == "boundary") {
        view.SetScaleIndex(11);
    } else {
        // The smallest scale that shows the correction's stretch three times over.
        const int64_t frames = event::ReplacementFrames(doc.events[chosen].width);
        int index = 1;
        while (index < 20 && view.FramesPerDivision() * int64_t{kViewSize.width()} / 50 < 3 * frames) view.SetScaleIndex(++index);
        view.SetScaleIndex(index);
    }
    return Save(QPixmap::fromImage(view.Render(kViewSize)), out);
}

int Save(const QPixmap& picture, const QString& out)
{
    if (picture.isNull() || !picture.save(out, "PNG")) {
        std::fprintf(stderr, "kelvane: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}

}  // namespace

int TakeScreenshot(CKelvaneApp& app, const QString& kind, const QString& file, const QString& out)
{
    CMainFrame& frame = app.Frame();
    // No question is put to anyone: the stored scan settings as they are,
    // every box answered with its default button.
    frame.SetAskScanOptions(false);
    app.Ui().SetAnswerer([](const CQtInteraction::Question& q) { return CQtInteraction::DefaultAnswer(q.buttons); });
    frame.resize(kMainSize);
    frame.show();
    QApplication::processEvents();

    if (kind == "options") {
        CScanOptionsDialog dialog(CScanOptionsDialog::Kind::AutoScan, ScanOptionsValues::FromDocument(app.Doc()), &frame);
        dialog.SetAdvancedShown(true);
        dialog.show();
        QApplication::processEvents();
        return Save(dialog.grab(), out);
    }

    QPixmap progressPicture;
    if (kind == "progress") {
        app.Ui().OnProgressCreated([&progressPicture](CQtProgressWnd& progress) {
            progress.afterPump = [&progressPicture](CQtProgressWnd& p) {
                const int32_t span = p.RangeHigh() - p.RangeLow();
                if (!progressPicture.isNull() || span <= 0 || p.Pos() - p.RangeLow() < span * 2 / 5) return;
                progressPicture = p.Dialog()->grab();
            };
        });
    }
    const OpResult result = frame.OpenFile(QFileInfo(file).absoluteFilePath());
    if (!result.Ok()) {
        std::fprintf(stderr, "kelvane: %s was not processed\n", qPrintable(file));
        return 1;
    }
    QApplication::processEvents();
    if (kind == "progress") return Save(progressPicture, out);
    if (kind == "correction" || kind == "boundary") return SaveView(frame, app.Doc(), kind, out);
    return Save(frame.grab(), out);
}

}  // namespace kelvane
