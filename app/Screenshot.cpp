#include "Screenshot.h"

#include "app/CQtProgressWnd.h"
#include "app/Startup.h"
#include "declick/ui/CScanOptionsDialog.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>

#include <cstdio>

namespace kelvane {

namespace {

constexpr QSize kMainSize{1100, 760};

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
    return Save(frame.grab(), out);
}

}  // namespace kelvane
