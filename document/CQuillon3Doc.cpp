#include "CQuillon3Doc.h"

#include "document/CApeDecoder.h"
#include "document/ScratchFiles.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kelvane {

CQuillon3Doc::CQuillon3Doc(ISettingsStore& settings, IInteraction& ui) : settings_(settings), ui_(ui)
{
    ReadScanSettings();
}

CQuillon3Doc::~CQuillon3Doc()
{
    // A document that goes away without Save Modified having run must not
    // leave its working copy behind.
    DeleteTemporaryFiles();
}

void CQuillon3Doc::ReadScanSettings()
{
    source = settings_.Get(settings::Source);
    sensitivity = settings_.Get(settings::Sensitivity);
    splitTracks = settings_.Get(settings::SplitTracks);
    subtractor = settings_.Get(settings::Subtractor);
    gapless = settings_.Get(settings::Gapless);
    mode = settings_.Get(settings::Mode);
    agc = settings_.Get(settings::Agc);
    discriminator = settings_.Get(settings::Discriminator);
    minMagnitude = settings_.Get(settings::MinMagnitude);
    corWidth = settings_.Get(settings::CorWidth);
}

void CQuillon3Doc::StoreScanSettings()
{
    ISettingsStore::Batch batch(settings_);
    settings_.Set(settings::Source, source);
    settings_.Set(settings::Sensitivity, sensitivity);
    settings_.Set(settings::SplitTracks, splitTracks);
    settings_.Set(settings::Subtractor, subtractor);
    settings_.Set(settings::Gapless, gapless);
    settings_.Set(settings::Mode, mode);
    settings_.Set(settings::Agc, agc);
    settings_.Set(settings::Discriminator, discriminator);
    settings_.Set(settings::MinMagnitude, minMagnitude);
    settings_.Set(settings::CorWidth, corWidth);
}

EventRecord* CQuillon3Doc::CurrentEvent()
{
    if (selectedEvent == -1) return &cursorEvent;
    if (selectedEvent > 0 && selectedEvent < events.Size()) return &events[selectedEvent];
    return nullptr;
}

const EventRecord* CQuillon3Doc::CurrentEvent() const
{
    return const_cast<CQuillon3Doc*>(this)->CurrentEvent();
}

void CQuillon3Doc::ResetEventList()
{
    events.RemoveAll();
    events.SetGrowStep(kEventGrowStep);
    events.SetSize(2);  // head sentinel and the blank working record
}

int32_t CQuillon3Doc::ClickCount() const
{
    // Until a recording is loaded there is no track table, and the list's two
    // sentinels are not clicks.
    if (tracks.Empty()) return 0;
    int32_t n = events.Size() - 2 * tracks.Size();
    if (n < 0) n = 0;
    const EventRecord* cur = CurrentEvent();
    if (cur && cur->mag == event::kMagAdjusting) --n;
    return n < 0 ? 0 : n;
}

void CQuillon3Doc::DeleteTemporaryFiles()
{
    const bool madeSource = sourceKind == kSourceApe || sourceKind == kSourceFlac || sourceKind == kSourceMono ||
                            sourceKind == kSourceMerged;
    apeDecoder.reset();
    monoFile.Close();
    sourceFile.Close();
    if (workingFile.IsOpen()) workingFile.SetLength(0);
    workingFile.Close();
    // Never remove the user's own file, whatever went wrong before.
    if (!workingPath.empty() && workingPath != userPath) RemoveScratchFile(workingPath);
    workingPath.clear();
    if (madeSource && !sourcePath.empty() && sourcePath != userPath) RemoveScratchFile(sourcePath);
    sourcePath.clear();
    // A working copy handed over as a saved file no longer needs its lock file.
    ReleaseGoneScratchFiles();
}

void CQuillon3Doc::DeleteContents()
{
    // The files first: which of them are ours to delete depends on the
    // source kind and the user's path, which the reset forgets.
    DeleteTemporaryFiles();
    static_cast<RecordingState&>(*this) = RecordingState{};
    ResetEventList();
    NotifyTracksChanged();
    NotifyReset();
    NotifyUpdate();
}

void CQuillon3Doc::AddObserver(IDocObserver* observer)
{
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void CQuillon3Doc::RemoveObserver(IDocObserver* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

bool CQuillon3Doc::IsAdjusting() const
{
    return std::any_of(observers_.begin(), observers_.end(), [](const IDocObserver* o) { return o->IsAdjusting(); });
}

template <typename Call>
void CQuillon3Doc::NotifyAll(Call call)
{
    // An observer may add or remove observers while it is told: walk a copy,
    // and skip those removed meanwhile (they may be gone).
    const std::vector<IDocObserver*> observers = observers_;
    for (IDocObserver* o : observers)
        if (std::find(observers_.begin(), observers_.end(), o) != observers_.end()) call(*o);
}

void CQuillon3Doc::NotifyReset()
{
    NotifyAll([](IDocObserver& o) { o.OnDocReset(); });
}

void CQuillon3Doc::NotifyUpdate()
{
    NotifyAll([](IDocObserver& o) { o.OnDocUpdate(); });
}

void CQuillon3Doc::NotifyTracksChanged()
{
    NotifyAll([](IDocObserver& o) { o.OnTracksChanged(); });
}

void CQuillon3Doc::NotifyStatusTexts(const std::string& pane1, const std::string& pane2, const std::string& pane3)
{
    NotifyAll([&](IDocObserver& o) { o.OnStatusTexts(pane1, pane2, pane3); });
}

void CQuillon3Doc::NotifyStatusProgress(int32_t pos, int32_t range)
{
    NotifyAll([&](IDocObserver& o) { o.OnStatusProgress(pos, range); });
}

}  // namespace kelvane
