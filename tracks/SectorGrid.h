#pragma once
// The CD sector grid that every track boundary lies on, and the earliest
// place a track may start. The grid is anchored at the start of the working
// file (offset dataAlign), not at the first frame, so that boundaries line
// up with the sectors an exported disc image would have.

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

// The position snapped down to the grid: dataAlign + (pos / 2352) x 2352,
// with C's truncating division (so a negative pos moves toward zero).
// Position units in and out.
int32_t SnapToSector(const CQuillon3Doc& doc, int32_t pos);

// dataStart snapped to the grid plus two sectors: no track starts earlier.
int32_t FirstAllowedStart(const CQuillon3Doc& doc);

}  // namespace kelvane
