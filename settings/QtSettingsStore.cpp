#include "settings/QtSettingsStore.h"

#include <mutex>
#include <set>

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace kelvane {

namespace {

// Files found malformed in this process and not yet saved over. QSettings
// parses a file once per process and shares the result, so only the first
// store to open it hears of the problem; the others learn it here.
std::mutex g_malformedMutex;
std::set<QString> g_malformedFiles;

QString Absolute(const QSettings& settings)
{
    return QFileInfo(settings.fileName()).absoluteFilePath();
}

bool IsMalformed(const QString& file)
{
    std::lock_guard lock(g_malformedMutex);
    return g_malformedFiles.count(file) != 0;
}

void SetMalformed(const QString& file, bool malformed)
{
    std::lock_guard lock(g_malformedMutex);
    if (malformed) {
        g_malformedFiles.insert(file);
    } else {
        g_malformedFiles.erase(file);
    }
}

QString Key(const std::string& section, const std::string& name)
{
    QString key = QString::fromStdString(name);
    if (section.empty()) return key;
    return QString::fromStdString(section) + QLatin1Char('/') + key;
}

}  // namespace

CQtSettingsStore::CQtSettingsStore()
    // The names are passed explicitly: without a QCoreApplication QSettings
    // has no organisation or application name to fall back on.
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QString::fromUtf8(kOrganisation), QString::fromUtf8(kApplication)))
{
    Init();
}

CQtSettingsStore::CQtSettingsStore(const std::string& iniPath)
    : settings_(std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat))
{
    Init();
}

CQtSettingsStore::~CQtSettingsStore()
{
    // Only a Batch still open when the store goes leaves anything pending.
    // A failure here has nobody left to tell.
    Sync();
}

void CQtSettingsStore::Init()
{
    // QSettings reads the file on construction, so the status is known now.
    if (settings_->status() == QSettings::FormatError) SetMalformed(Absolute(*settings_), true);
    if (IsMalformed(Absolute(*settings_))) {
        problem_ = "The settings file '" + FileName() + "' has lines that cannot be read; they are ignored.";
    }
}

std::string CQtSettingsStore::FileName() const
{
    return settings_->fileName().toStdString();
}

int CQtSettingsStore::ReadInt(const std::string& section, const std::string& name, int defaultValue) const
{
    if (overlay_.Has(section, name)) return overlay_.ReadInt(section, name, defaultValue);
    if (hidden_.count({section, name}) != 0) return defaultValue;
    QVariant v = settings_->value(Key(section, name));
    if (!v.isValid()) return defaultValue;
    if (v.typeId() == QMetaType::Int) return v.toInt();
    // A hand-edited "1,2" arrives as a list: not a number.
    if (v.typeId() == QMetaType::QStringList) return defaultValue;
    bool ok = false;
    int value = v.toString().trimmed().toInt(&ok, 10);
    return ok ? value : defaultValue;
}

std::string CQtSettingsStore::ReadString(const std::string& section, const std::string& name,
                                         const std::string& defaultValue) const
{
    if (overlay_.Has(section, name)) return overlay_.ReadString(section, name, defaultValue);
    if (hidden_.count({section, name}) != 0) return defaultValue;
    QVariant v = settings_->value(Key(section, name));
    if (!v.isValid()) return defaultValue;
    // Values this store writes are quoted when they hold commas; an unquoted
    // hand-edited one is split into a list by QSettings, so put it back.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", ")).toStdString();
    return v.toString().toStdString();
}

void CQtSettingsStore::WriteInt(const std::string& section, const std::string& name, int value)
{
    if (PrepareWrite()) {
        Write(section, name, QVariant(value));
    } else {
        overlay_.WriteInt(section, name, value);
        hidden_.erase({section, name});
    }
}

void CQtSettingsStore::WriteString(const std::string& section, const std::string& name, const std::string& value)
{
    if (PrepareWrite()) {
        Write(section, name, QVariant(QString::fromStdString(value)));
    } else {
        overlay_.WriteString(section, name, value);
        hidden_.erase({section, name});
    }
}

void CQtSettingsStore::Remove(const std::string& section, const std::string& name)
{
    // An empty name would make the key the group itself, and QSettings would
    // drop the whole section.
    if (name.empty()) return;
    const QString key = Key(section, name);
    overlay_.Remove(section, name);
    // Nothing on disk means nothing to save: a damaged file is then neither
    // copied nor rewritten.
    if (hidden_.count({section, name}) != 0 || !settings_->contains(key)) return;
    if (PrepareWrite()) {
        settings_->remove(key);
        if (batchDepth_ == 0) Sync();
    } else {
        hidden_.insert({section, name});
    }
}

bool CQtSettingsStore::PrepareWrite()
{
    if (readOnly_) return false;
    QString absolute = Absolute(*settings_);
    if (!IsMalformed(absolute)) return true;
    // Saving rewrites the whole file and QSettings drops the lines it could
    // not parse; those may be the user's own edits, so keep the original.
    QString file = settings_->fileName();
    QString backup = file + QStringLiteral(".bak");
    QFile::remove(backup);
    if (QFile::copy(file, backup)) {
        SetMalformed(absolute, false);  // the save below cleans the file
        problem_ = "The settings file '" + FileName() + "' had lines that could not be read; the original was kept as '" +
                   backup.toStdString() + "'.";
        return true;
    }
    readOnly_ = true;
    problem_ = "The settings file '" + FileName() +
               "' has lines that cannot be read and no copy of it could be kept; changes last for this session only.";
    return false;
}

void CQtSettingsStore::Write(const std::string& section, const std::string& name, const QVariant& value)
{
    settings_->setValue(Key(section, name), value);
    if (batchDepth_ == 0) Sync();
}

void CQtSettingsStore::Sync()
{
    if (readOnly_) return;
    settings_->sync();
    if (settings_->status() == QSettings::AccessError) {
        problem_ = "The settings could not be saved to '" + FileName() + "'; changes last for this session only.";
    }
}

}  // namespace kelvane
