#include "ScanParams.h"

#include "document/CQuillon3Doc.h"

namespace kelvane {

ScanParams ScanParams::FromDocument(const CQuillon3Doc& doc)
{
    ScanParams p;
    p.sensitivity = doc.sensitivity;
    p.mode = doc.mode;
    p.discriminator = doc.discriminator;
    p.agc = doc.agc;
    p.minMagnitude = doc.minMagnitude;
    p.corWidth = doc.corWidth;
    return p;
}

}  // namespace kelvane
