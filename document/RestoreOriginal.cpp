#include "RestoreOriginal.h"

#include "document/CChunkedPass.h"
#include "document/CQuillon3Doc.h"

namespace kelvane {

bool RestoreOriginal(CQuillon3Doc& doc, int32_t first, int32_t last)
{
    PassSpec spec;
    spec.range = {first, last};
    spec.precision = PassPrecision::Full;
    spec.writes = PassWrites::SourceToWorking;
    spec.cancel = PassCancel::Disabled;
    return CChunkedPass(doc).Run(spec) == PassOutcome::Completed;
}

bool RestoreOriginal(CQuillon3Doc& doc)
{
    return RestoreOriginal(doc, doc.dataStart, doc.dataEnd);
}

}  // namespace kelvane
