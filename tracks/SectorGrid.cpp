#include "SectorGrid.h"

#include "document/CQuillon3Doc.h"

namespace kelvane {

int32_t SnapToSector(const CQuillon3Doc& doc, int32_t pos)
{
    return doc.dataAlign + (pos / kSectorBytes) * kSectorBytes;
}

int32_t FirstAllowedStart(const CQuillon3Doc& doc)
{
    return SnapToSector(doc, doc.dataStart) + 2 * kSectorBytes;
}

}  // namespace kelvane
