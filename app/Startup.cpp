#include "Startup.h"

#include "app/Screenshot.h"
#include "output/EncoderList.h"
#include "settings/CTipFile.h"
#include "settings/QtSettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QSplashScreen>
#include <QTimer>

#include <cstdio>

// The icons are compiled into the static library; its resources must be
// registered by name before the first icon is looked up.
static void InitResources() { Q_INIT_RESOURCE(kelvane); }

namespace kelvane {

namespace {

constexpr int kSplashMs = 1500;

QPixmap SplashPicture()
{
    QPixmap pixmap(360, 180);
    pixmap.fill(QColor(32, 32, 32));
    QPainter p(&pixmap);
    p.drawPixmap(20, 58, QPixmap(":/icons/kelvane.png"));
    QFont font = p.font();
    font.setPointSize(22);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(100, 50, 250, 40), Qt::AlignLeft | Qt::AlignVCenter, "Kelvane");
    font.setPointSize(10);
    font.setBold(false);
    p.setFont(font);
    p.drawText(QRect(100, 92, 250, 30), Qt::AlignLeft | Qt::AlignVCenter, "Vinyl and tape restoration");
    return pixmap;
}

}  // namespace

QString Usage()
{
    return "usage: kelvane [--no-settings] [--no-splash] [FILE]\n"
           "       kelvane [--no-settings] --screenshot OUT.png [--screenshot-kind main|progress|options|correction|boundary] [FILE]\n";
}

std::optional<StartupOptions> ParseCommandLine(const QStringList& args, QString& error)
{
    StartupOptions o;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == "--no-settings") o.noSettings = true;
        else if (a == "--no-splash") o.noSplash = true;
        else if (a == "--screenshot") {
            const auto v = value();
            if (!v) return std::nullopt;
            o.screenshot = *v;
            o.noSplash = true;
        } else if (a == "--screenshot-kind") {
            const auto v = value();
            if (!v) return std::nullopt;
            if (*v != "main" && *v != "progress" && *v != "options" && *v != "correction" && *v != "boundary") {
                error = "unknown screenshot kind " + *v;
                return std::nullopt;
            }
            o.screenshotKind = *v;
        } else if (a.startsWith("--")) {
            error = "unknown option " + a;
            return std::nullopt;
        } else if (o.file.isEmpty()) {
            o.file = a;
        } else {
            error = "one file at a time: " + a;
            return std::nullopt;
        }
    }
    if (!o.screenshot.isEmpty() && o.screenshotKind != "options" && o.file.isEmpty()) {
        error = "--screenshot needs a FILE to process";
        return std::nullopt;
    }
    return o;
}

CKelvaneApp::CKelvaneApp(std::unique_ptr<ISettingsStore> store) : store_(std::move(store))
{
    InitResources();
    doc_ = std::make_unique<CQuillon3Doc>(*store_, ui_);
    frame_ = std::make_unique<CMainFrame>(*store_, ui_, *doc_);
}

CKelvaneApp::~CKelvaneApp()
{
    // The window observes the document: it goes first.
    frame_.reset();
    doc_.reset();
}

void CKelvaneApp::Start(const StartupOptions& options)
{
    frame_->RestorePlacement();
    std::unique_ptr<QSplashScreen> splash;
    if (!options.noSplash && store_->Get(settings::Splash)) {
        splash = std::make_unique<QSplashScreen>(SplashPicture());
        splash->show();
        QTimer::singleShot(kSplashMs, splash.get(), &QSplashScreen::close);
    }
    frame_->show();
    doc_->DeleteContents();
    const std::string pathName = store_->Get(settings::PathName);
    if (!pathName.empty() && QDir(QString::fromStdString(pathName)).exists())
        QDir::setCurrent(QString::fromStdString(pathName));
    if (TipAtStartup(*store_, !options.file.isEmpty())) frame_->ShowTipOfTheDay();
    RefreshEncoderList(*store_, nullptr, "PATH");
    if (!options.file.isEmpty()) {
        const QString tail = options.file.right(4).toLower();
        if (tail == ".wav" || tail == ".ape" || tail == "flac") frame_->OpenFile(options.file);
    }
    store_->Get(settings::InputDevice);
    store_->Get(settings::OutputDevice);
    if (splash) splash.release()->setAttribute(Qt::WA_DeleteOnClose);
}

int RunKelvane(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kelvane");
    QApplication::setOrganizationName(CQtSettingsStore::kOrganisation);
    QString error;
    const std::optional<StartupOptions> options = ParseCommandLine(app.arguments().mid(1), error);
    if (!options) {
        std::fprintf(stderr, "kelvane: %s\n%s", qPrintable(error), qPrintable(Usage()));
        return 2;
    }
    std::unique_ptr<ISettingsStore> store;
    if (options->noSettings) store = std::make_unique<CMemorySettings>();
    else store = std::make_unique<CQtSettingsStore>();
    CKelvaneApp kelvane(std::move(store));
    if (!options->screenshot.isEmpty())
        return TakeScreenshot(kelvane, options->screenshotKind, options->file, options->screenshot);
    kelvane.Start(*options);
    return app.exec();
}

}  // namespace kelvane
