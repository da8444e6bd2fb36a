#pragma once
// The preferences as the programs keep them: one INI file in the user's
// configuration folder, one INI group per section. QtCore only, so the batch
// tool can use it without a GUI module, and without a QCoreApplication.

#include <memory>
#include <set>
#include <string>
#include <utility>

#include "settings/SettingsStore.h"

class QSettings;
class QVariant;

namespace kelvane {

class CQtSettingsStore final : public ISettingsStore {
public:
    static constexpr const char* kOrganisation = "Tessaly Instruments";
    static constexpr const char* kApplication = "Kelvane";

    // The user's own file (on Linux ~/.config/Tessaly Instruments/Kelvane.ini).
    CQtSettingsStore();
    // An explicit INI file, created (with its folders) on the first write.
    explicit CQtSettingsStore(const std::string& iniPath);
    ~CQtSettingsStore() override;
    CQtSettingsStore(const CQtSettingsStore&) = delete;
    CQtSettingsStore& operator=(const CQtSettingsStore&) = delete;

    // A value that is missing, or (for ReadInt) not a whole number in int
    // range, yields defaultValue. Names may contain blanks; a '/' in a name
    // would open a sub-group, so the declared names have none.
    int ReadInt(const std::string& section, const std::string& name, int defaultValue) const override;
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue) const override;
    // Every write goes to disk at once, so a second store (or process) on the
    // same file sees it. A failed write is not fatal: the value stays in this
    // store for the session and Problem() says why it was not saved.
    void WriteInt(const std::string& section, const std::string& name, int value) override;
    void WriteString(const std::string& section, const std::string& name, const std::string& value) override;
    // Goes to disk like a write (or is collected by a Batch). When the file
    // cannot be written the value is hidden for the session only. A value
    // that is not there leaves the file untouched: no save, no backup copy.
    void Remove(const std::string& section, const std::string& name) override;

    // A Batch (ISettingsStore::Batch) matters here: each save costs a full
    // rewrite of the file plus an fsync.

    // Writes pending changes now (rarely needed: writes sync themselves).
    void Sync();

    // The INI file's path (UTF-8).
    std::string FileName() const;
    // Empty while all is well; otherwise one sentence for the user about the
    // file (unreadable lines, a copy kept, or changes that could not be saved).
    // Comments and lines that cannot be read are never lost: every save puts
    // them back where they stood (see SettingsFileText.h).
    const std::string& Problem() const { return problem_; }

protected:
    void BeginBatch() override { ++batchDepth_; }
    void EndBatch() override
    {
        if (--batchDepth_ == 0) Sync();
    }

private:
    void Init();
    // False when the value must stay in the session overlay instead of disk.
    bool PrepareWrite();
    void Write(const std::string& section, const std::string& name, const QVariant& value);
    // After a save: the comments and unreadable lines of the file as it was
    // before it go back in.
    void KeepUnreadLines(const std::string& before);

    std::unique_ptr<QSettings> settings_;
    int batchDepth_ = 0;
    bool readOnly_ = false;  // malformed and no copy could be kept: disk untouched
    CMemorySettings overlay_;
    // Values removed while the file is read-only: they are still on disk, so
    // reads must be told they are gone. A later write puts one back.
    std::set<std::pair<std::string, std::string>> hidden_;
    std::string problem_;
    std::string unreadableLines_;  // "line 3", for the messages; empty: none
};

}  // namespace kelvane
