#pragma once
// The track finder: divides a loaded recording into tracks at its quiet
// gaps, working only on the per-block levels the load pass gathered (one
// value per 4096 position units), never on the samples.
//
// Method: a pass follows a level envelope through the blocks with a rising
// attack (+10 per block) in the quiet state and a 9/10 release in a track,
// against one threshold; a track starts 80 sectors before the block where
// sound was detected and ends 40 sectors after the block where quiet was.
// The search repeats passes on a ladder of thresholds S(n) = 20 x 2^(n/20)
// until the track count stops changing (automatic mode) or reaches a target.
// Limits: a gap splits only when its quiet outlasts the lead-in, the tail
// and the one-second re-join gap together (about 2.6 s, plus the music's
// own fade), and only when it is quieter than the music's quiet passages; a
// recording whose count never settles falls back to the lowest threshold
// and is reported as unreliable.
//
// All arithmetic is integer with C's truncating division, so the result is
// the same track for track wherever it runs. Positions are position units.

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

inline constexpr const char* kSearchUnreliable = "The track search was unreliable";
inline constexpr const char* kTargetNotFound = "The target number of tracks could not be found";

class CTrackFinder {
public:
    // Search constants, position units unless said otherwise.
    static constexpr int32_t kLeadInSectors = 80;   // 188160: a start lies this far before the sound
    static constexpr int32_t kTailSectors = 40;     // 94080: an end lies this far after the quiet
    static constexpr int32_t kMinimumRun = 200000;  // quiet ends a track only after this much of it
    static constexpr int32_t kLastTrackMinimum = 800000;
    static constexpr int32_t kAttackStep = 10;     // envelope rise per block while quiet
    static constexpr int32_t kAutoFirstStep = 10;  // ladder steps n
    static constexpr int32_t kAutoLastStep = 90;
    static constexpr int32_t kTargetFirstStep = 2;
    static constexpr int32_t kLastStep = 180;

    struct Result {
        int32_t trackCount = 0;   // tracks in the table afterwards
        int32_t finalStep = 0;    // the ladder step n of the pass that stands
        int32_t passes = 0;       // passes run
        bool unreliable = false;  // the automatic search fell back to n = 0
    };

    // The document must outlive the finder.
    explicit CTrackFinder(CQuillon3Doc& doc) : doc_(doc) {}

    // The whole search. target 0: automatic; otherwise the number of tracks
    // wanted (the dialog offers 2 to 30). warn: the two messages may be
    // shown (kSearchUnreliable, kTargetNotFound; information boxes with OK).
    // Replaces tracks 1..n (element 0 stays), aligns the boundaries gapless
    // when the document's flag is on, then runs the three refresh steps
    // Throws std::out_of_range when the track table has no element 0 or the
    // block level table does not cover the recording, and
    // std::invalid_argument for a negative target; in both cases before
    // anything is changed.
    Result Find(int32_t target, bool warn);

    // One pass at `threshold`, in block levels (a block's sum of
    // |left| + |right| divided by 1024): removes the boundary markers and
    // rebuilds tracks 1..n, with the last-track and short-track rules.
    // Leaves the markers removed. Returns the number of tracks. Throws as
    // Find does.
    int32_t RunPass(int32_t threshold);

    // S(n) = trunc(20 x 2^(0.05 n)) in double precision.
    static int32_t Threshold(int32_t step);
    // Tracks shorter than this are merged into a neighbour: 2000000 up to
    // 48 kHz, 4000000 above; 3000000 and 6000000 for 24-bit recordings.
    static int32_t MinimumTrackLength(int32_t sampleRate, int32_t bitsPerSample);

    // Throws what Find and RunPass throw for tables they cannot work on, so
    // a command can refuse before it changes anything else.
    void CheckTables() const;

private:
    CQuillon3Doc& doc_;
};

// CTrackFinder(doc).Find(target, warn).
CTrackFinder::Result FindTracks(CQuillon3Doc& doc, int32_t target, bool warn);

// The automatic processing's hook at the end of the load pass ("Split
// Tracks" on): an automatic search without messages, then "Tracks Found = %d"
// in the progress window when there is one, or "No tracks were found" when
// the single default track is all there is.
void RunTrackFinderAfterLoad(CQuillon3Doc& doc);

}  // namespace kelvane
