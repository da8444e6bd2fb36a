#pragma once
// The noise profile: the average magnitude spectrum of a stretch that holds
// only noise, and how the system finds such a stretch by itself.
//
// Music is told from noise frame by frame by the spectral irregularity of
// bins 5..104 (above 1: tonal peaks, music). The search for signal walks 512
// frames at a time, scoring +2 for a music frame and -1 for a noise frame
// per channel, and stops once the score exceeds 20; it therefore confirms
// music some way after it begins, which is why the profile block is placed
// by the block levels rather than at a fixed distance before that point
// (IdentifyProfileBlock).
//
// Everything reads the working file between passes, through reads that do
// not move a pass's file offset. Positions are position units (4 a frame).

#include "document/NoiseProfiles.h"

#include <cstdint>
#include <optional>

namespace kelvane {

class CQuillon3Doc;

// Frame length of the profile and of the spectral pass: 512 up to 48 kHz,
// else 1024 (the document's overviewStep).
int32_t ProfileFrameLength(const CQuillon3Doc& doc);

// The music test of one channel of n interleaved stereo 16-bit frames.
bool IsMusicFrame(const int16_t* interleaved, int channel, int n);

// Searches from position p in direction +1 or -1 (at most 13671000 frames)
// for the first position where music is confirmed; nullopt when the search
// ran out.
std::optional<int32_t> SearchForSignal(CQuillon3Doc& doc, int32_t p, int direction);

// The quietest quiet run of [x, y): 9 consecutive level blocks k..k+8 lying
// wholly in the range, all above level 0, with the smallest (32-bit) sum of
// levels; of equal sums the first. Returns k, or nullopt when there is none.
std::optional<int32_t> QuietestRun(const CQuillon3Doc& doc, int64_t x, int64_t y);

// Finds the lead-in profile block (always yields one) and stores it in
// doc.noise.leadIn. When the quiet gap around the block is short, warns
// through the document's interaction, in the words for its status.
void IdentifyProfileBlock(CQuillon3Doc& doc);

// Average magnitudes of bins 0..255 over block [start, end) of the working
// file, at its sample width, on non-overlapping frames from start on (the
// last frame may reach past end; frames past the audio read as silence),
// each the sum over the frames divided by whole frames in the block and
// truncated. False when the block holds less than one frame or the file
// cannot be read (the user is told about a file error).
bool MeasureProfile(CQuillon3Doc& doc, const ProfileBlock& block, ProfileArray& left, ProfileArray& right);

// The lead-in profile, measured again from its block, identifying a block
// first when there is none. False as MeasureProfile.
bool MeasureLeadInProfile(CQuillon3Doc& doc);

inline constexpr const char* kMsgProfileUnreliableShort =
    "Warning\nThe Noise Profile may be unreliable.\npress 'F1' for additional help.";
inline constexpr const char* kMsgProfileUnreliable =
    "Warning\nThe Noise Profile may be unreliable. This will affect the operation of the Hiss and Hum Filters. "
    "Do not use either of these filters without first verifying your noise profile.\npress 'F1' for additional "
    "help.";

}  // namespace kelvane
