#include "RestoreOriginal.h"

#include "document/CChunkedPass.h"
#include "document/CQuillon3Doc.h"

namespace kelvane {

bool RestoreOriginal(CQuillon3Doc& doc, int32_t first, int32_t last)
{
    PassPlan plan;
    plan.range = {first, last};
    plan.precision = PassPrecision::Full;
    plan.writes = PassWrites::SourceToWorking;
    plan.cancel = PassCancel::Disabled;
    return CChunkedPass(doc).Run(plan) == PassOutcome::Completed;
}

bool RestoreOriginal(CQuillon3Doc& doc)
{
    return RestoreOriginal(doc, doc.dataStart, doc.dataEnd);
}

}  // namespace kelvane
