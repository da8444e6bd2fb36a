#include "settings/QtSettingsStore.h"

#include "settings/SettingsFileText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
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

// The whole file, or false when there is none to read.
bool ReadWholeFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return !in.bad();
}

// Replaces the file (the one a link leads to, if it is a link) by `text` in
// one rename, durably: a crash leaves the old file or the new one whole.
// Whether the INI reader takes the same values from text as it holds now.
// A kept line can change how the lines after it are read (an unclosed
// quote runs on across line ends), so a restored file is read back before
// it replaces the one the reader wrote.
bool ReadsAlike(const QSettings& current, const std::string& folder, const std::string& text)
{
    char name[] = "kelvane-settings-check-XXXXXX";
    const std::string pattern = (folder.empty() ? std::string(".") : folder) + "/" + name;
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    bool alike = false;
    if (written) {
        const QSettings check(QString::fromLocal8Bit(path.data()), QSettings::IniFormat);
        const QStringList keys = current.allKeys();
        alike = check.allKeys().size() == keys.size();
        for (const QString& key : keys) alike = alike && check.value(key) == current.value(key);
    }
    ::unlink(path.data());
    return alike;
}

// The kept lines as comments at the end of the file: where they cannot
// change how anything is read.
std::string KeptLinesAtTheEnd(const SettingsText& before, std::string text)
{
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += "\n; Lines kept from an earlier version of this file:\n";
    for (const SettingsLine& line : before.lines) {
        if (line.kind != SettingsLine::Kind::Comment && line.kind != SettingsLine::Kind::Unreadable) continue;
        std::string body = line.text;
        for (char& c : body)
            if (c == '\n' || c == '\r') c = ' ';
        text += (line.kind == SettingsLine::Kind::Comment && !body.empty() && body[0] == ';' ? "" : "; ") + body + '\n';
    }
    return text;
}

bool ReplaceFileText(const std::string& path, const std::string& text, std::string& error)
{
    char resolved[PATH_MAX];
    const std::string target = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    std::vector<char> name(target.begin(), target.end());
    const std::string suffix = ".kelvane-partial-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok) error = std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
    }
    if (ok && ::rename(name.data(), target.c_str()) != 0) {
        ok = false;
        error = std::strerror(errno);
    }
    if (!ok) {
        ::unlink(name.data());
        return false;
    }
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
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
    // QSettings reads the file on construction, but it finds some lines
    // unreadable only later, when it parses their section; the file's own
    // lines tell which at once.
    std::string text;
    if (ReadWholeFile(FileName(), text)) unreadableLines_ = LineNumbersText(ReadSettingsText(text).unreadable);
    if (settings_->status() == QSettings::FormatError || !unreadableLines_.empty())
        SetMalformed(Absolute(*settings_), true);
    if (!unreadableLines_.empty()) {
        problem_ = "The settings file '" + FileName() + "' has lines that cannot be read (" + unreadableLines_ +
                   "); they are ignored, and left in the file as they are.";
    } else if (IsMalformed(Absolute(*settings_))) {
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
        problem_ = "The settings file '" + FileName() + "' has lines that cannot be read" +
                   (unreadableLines_.empty() ? std::string() : " (" + unreadableLines_ + ")") +
                   "; they are ignored and left in the file, and a copy of the file as it was is kept as '" +
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
    // A save writes the file again from the values alone: comments and
    // lines QSettings cannot read are taken from the file now and put back
    // after it.
    std::string before;
    const bool hadFile = ReadWholeFile(FileName(), before);
    settings_->sync();
    if (settings_->status() == QSettings::AccessError) {
        problem_ = "The settings could not be saved to '" + FileName() + "'; changes last for this session only.";
        return;
    }
    if (hadFile) KeepUnreadLines(before);
}

void CQtSettingsStore::KeepUnreadLines(const std::string& before)
{
    const SettingsText lines = ReadSettingsText(before);
    if (!lines.HasKeptLines()) return;
    // Under the lock QSettings takes for its own saves, so that another
    // process saving meanwhile is neither lost nor loses these lines.
    QLockFile lock(settings_->fileName() + QStringLiteral(".lock"));
    const bool locked = lock.tryLock(5000);
    std::string after;
    if (!ReadWholeFile(FileName(), after) || after == before) return;
    std::string restored = RestoreKeptLines(lines, after);
    if (restored != after) {
        const std::string folder = QFileInfo(settings_->fileName()).absolutePath().toStdString();
        if (!ReadsAlike(*settings_, folder, restored)) restored = KeptLinesAtTheEnd(lines, after);
        if (!ReadsAlike(*settings_, folder, restored)) restored = after;
    }
    std::string error;
    if (restored != after && !ReplaceFileText(FileName(), restored, error)) {
        problem_ = "The settings were saved to '" + FileName() +
                   "', but its comments and unreadable lines could not be put back: " + error + ".";
    }
    if (locked) lock.unlock();
}

}  // namespace kelvane
