#pragma once
// The document: the state of one recording (one side of a record or tape).
// It owns the source and working files, the event list, the track table, the
// per-block statistics and the processing status. The algorithms that work on
// it (import, load pass, scanner, corrector, track finder, filters, export)
// are classes of their own beside it; the document only holds and resets.
//
// Positions are signed 32-bit position units (see CWaveFile.h). Single
// threaded: everything runs on the thread that owns the document.

#include "document/CGrowList.h"
#include "document/CWaveFile.h"
#include "document/EventRecord.h"
#include "document/NoiseProfiles.h"
#include "document/TrackRecord.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

class CApeDecoder;
class CProgressWnd;
class IInteraction;
class ISettingsStore;

enum SourceKind : int32_t {
    kSourceWav = 0,
    kSourceApe = 1,
    kSourceFlac = 2,
    kSourceMerged = 3,
    kSourceMono = 4,
};

enum Status : int32_t {
    kStatusNotLoaded = 0,
    kStatusNotScanned = 1,
    kStatusScanIncomplete = 2,
    kStatusNotCorrected = 3,
    kStatusAborted = 4,
    kStatusReadyToSave = 5,
};

// What the views tell the document about themselves; the core never asks a
// widget directly.
class IDocObserver {
public:
    virtual ~IDocObserver() = default;
    virtual void OnDocReset() {}         // forget marks, clear the list window
    virtual void OnDocUpdate() {}        // repaint from the lists
    virtual void OnTracksChanged() {}    // rebuild the Tracks menu
    virtual bool IsAdjusting() const { return false; }  // a correction adjustment is in progress
    // The three panes of the status bar during an operation that shows its
    // own texts there (empty texts restore the normal indicators).
    virtual void OnStatusTexts(const std::string& /*pane1*/, const std::string& /*pane2*/,
                               const std::string& /*pane3*/) {}
    // The status bar's progress control, for an operation that runs without
    // a progress window: pos of range; a range of 0 removes the control.
    virtual void OnStatusProgress(int32_t /*pos*/, int32_t /*range*/) {}
};

// One input of a merged recording: where its audio lies in its own file.
struct MergeInput {
    int64_t end = 0;    // byte offset just past its audio
    int64_t start = 0;  // byte offset of its first audio byte
    int32_t align = 0;  // start modulo 4
    std::string path;
};

struct InputTags {
    std::string title, artist, album, genre, track;
};

inline constexpr int32_t kSegmentBytes = 0x40000;  // one chunk of every long operation
inline constexpr int32_t kLookAheadBytes = 0x1000;  // read behind a chunk by the scans that look ahead
inline constexpr int32_t kBlockBytes = 4096;       // one block of the level statistics
inline constexpr int32_t kSectorBytes = 2352;      // one CD sector: 588 frames
inline constexpr int32_t kScanMargin = 20480;      // clicks are never placed this close to either end
inline constexpr int32_t kEventGrowStep = 5000;

// Everything that one recording brings and its processing makes. Delete
// Contents gives it back its first state in one assignment, so a field added
// here is reset with the rest. What outlives a recording stays in the
// document: the files (closed and removed by Delete Contents itself), the
// rate and what import derives from it, the cursor record, the scan
// settings and the track properties kept for the session.
struct RecordingState {
    // --- source -------------------------------------------------------------
    int32_t sourceKind = kSourceWav;
    std::string originalPath;  // the path the user chose, when a .tmp source was made
    std::string userPath;      // the path the user chose, always

    // --- audio format ---------------------------------------------------------
    int32_t bitsPerSample = 16;

    // --- layout -------------------------------------------------------------
    int32_t dataStart = 0;
    int32_t dataEnd = 0;
    int32_t trailerBytes = 0;
    int32_t dataAlign = 0;
    int32_t scanFirst = 0;
    int32_t scanLast = 0;

    // --- statistics ---------------------------------------------------------
    std::vector<int32_t> blockLevel;
    std::vector<std::array<int8_t, 4>> blockEnvelope;  // min L, max L, min R, max R (/256)
    std::vector<int32_t> segmentCorrections;

    // --- lists --------------------------------------------------------------
    CGrowList<EventRecord> events{kEventGrowStep};   // [0] head sentinel, [size-1] blank working record
    CGrowList<EventRecord> staging{kEventGrowStep};  // a block re-scan's finds before they are merged
    CGrowList<TrackRecord> tracks;                   // [0] the whole recording
    std::vector<MergeInput> mergeList;               // the inputs of a merged recording, in order

    // --- selection ----------------------------------------------------------
    int32_t selectedEvent = 0;  // index in events; -1: cursorEvent stands in; 0: none
    int32_t blockStart = 0;     // 0: no block
    int32_t blockEnd = 0;
    // The block's first and last indices in events: for removing and
    // re-scanning the corrections of a block, which are not built yet.
    int32_t blockFirstEvent = 0;
    int32_t blockLastEvent = 0;
    int32_t currentTrack = 0;

    // --- processing ---------------------------------------------------------
    int32_t status = kStatusNotLoaded;
    int32_t loaded = 0;
    int32_t scanCancelledAt = 0;
    int32_t maxPass = 1;
    int32_t noDifferenceData = 0;

    // --- filter state -------------------------------------------------------
    int32_t filtersApplied = 0;
    int32_t hissApplied = 0;
    NoiseProfiles noise;  // reset with the recording: a profile belongs to its side

    // --- input tags, applied to track 0 when the load pass starts -------------
    InputTags inputTags;
    std::string inputTrackNumber;               // the input's track-number text
    std::vector<std::string> passedOnComments;  // NAME="value", for external encoders

    // --- framework document title ----------------------------------------------
    std::string title;
};

class CQuillon3Doc : public RecordingState {
public:
    CQuillon3Doc(ISettingsStore& settings, IInteraction& ui);
    ~CQuillon3Doc();
    CQuillon3Doc(const CQuillon3Doc&) = delete;
    CQuillon3Doc& operator=(const CQuillon3Doc&) = delete;

    ISettingsStore& Settings() { return settings_; }
    IInteraction& Ui() { return ui_; }
    // The views, the list window and the status bar each observe the
    // document; every notification reaches all of them, in the order added.
    // An observer removes itself before it goes away.
    void AddObserver(IDocObserver* observer);
    void RemoveObserver(IDocObserver* observer);
    // Whether any observer has a correction adjustment in progress.
    bool IsAdjusting() const;

    // Empties the document; deletes the working file.
    void DeleteContents();

    // Closes and deletes the temporary files: the working file always, the
    // source file when it is one we made (APE, FLAC, mono, merged input).
    void DeleteTemporaryFiles();

    // Reads the automatic-scan settings from the store.
    void ReadScanSettings();
    // Writes them back (after the options dialog was confirmed).
    void StoreScanSettings();

    // --- source (the rest is in RecordingState) ------------------------------
    std::unique_ptr<CApeDecoder> apeDecoder;

    // --- files --------------------------------------------------------------
    CWaveFile sourceFile;
    CWaveFile workingFile;
    CWaveFile monoFile;
    std::string sourcePath;
    std::string workingPath;
    int64_t monoDataStart = 0;  // kind 4: where the mono samples begin in monoFile

    // --- audio rate, set by import (one recording at a time) ------------------
    int32_t sampleRate = 44100;
    int32_t overviewStep = 512;

    // --- selection (the rest is in RecordingState) ---------------------------
    EventRecord cursorEvent{1, 0, 0, 0, event::kMagCursor};
    // The current event (into events or the cursor record), or nullptr.
    EventRecord* CurrentEvent();
    const EventRecord* CurrentEvent() const;
    bool HasBlock() const { return blockStart != 0; }

    // --- scan settings ------------------------------------------------------
    int32_t source = 1095;
    int32_t sensitivity = -1;
    int32_t splitTracks = 1;
    int32_t subtractor = 2;
    int32_t hissEnabled = 0;  // set once the user applied a hiss filter ("EnableHiss")
    int32_t gapless = 0;
    int32_t mode = 1005;
    int32_t agc = 0;
    int32_t discriminator = 0;
    int32_t minMagnitude = 0;
    int32_t corWidth = 1303;
    // The Scan Options' own sensitivity and mode for re-scans; -10 takes
    // the automatic scan's.
    int32_t rescanSensitivity = -10;
    int32_t rescanMode = -10;

    // --- progress of the running long operation (not owned), or nullptr ------
    CProgressWnd* progress = nullptr;

    // --- track properties kept while the program runs -----------------------
    std::string defaultArtist;      // survives Delete Contents
    bool keepFileNameTitles = false;

    // --- the view's horizontal scale table for the rate ----------------------
    std::vector<int32_t> scaleSteps;
    std::vector<int32_t> coarseScaleSteps;

    // --- framework document state (the title is in RecordingState) -----------
    void SetModifiedFlag(bool modified = true) { modified_ = modified; }
    bool IsModified() const { return modified_; }

    // Empties the event list and seeds it with the head sentinel and the blank
    // working record.
    void ResetEventList();
    // Number of tracks (track table size - 1, never below 0).
    int32_t TrackCount() const { return tracks.Size() > 1 ? tracks.Size() - 1 : 0; }
    // Clicks as the status bar counts them (never below 0).
    int32_t ClickCount() const;

    void NotifyReset();
    void NotifyUpdate();
    void NotifyTracksChanged();
    void NotifyStatusTexts(const std::string& pane1, const std::string& pane2, const std::string& pane3);
    void NotifyStatusProgress(int32_t pos, int32_t range);

private:
    template <typename Call>
    void NotifyAll(Call call);

    ISettingsStore& settings_;
    IInteraction& ui_;
    std::vector<IDocObserver*> observers_;
    bool modified_ = false;
};

}  // namespace kelvane
