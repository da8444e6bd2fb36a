#pragma once
// The settings one click scan runs with: the load scan takes the document's
// automatic-scan settings; a re-scan brings its own.

#include <cstdint>

namespace kelvane {

class CQuillon3Doc;

struct ScanParams {
    int32_t sensitivity = 3;      // 0..5; 0 = off
    int32_t mode = 1005;          // 1004 Differential, 1005 Per Channel
    int32_t discriminator = 0;    // 0..3
    int32_t agc = 0;              // 0..3
    int32_t minMagnitude = 0;     // 0..10
    int32_t corWidth = 1303;      // 1303 Normal, 1295 Narrow

    bool Differential() const { return mode == 1004; }
    bool Narrow() const { return corWidth == 1295; }

    // The load scan's settings, from the document's automatic-scan fields.
    static ScanParams FromDocument(const CQuillon3Doc& doc);
};

}  // namespace kelvane
