// Fuzzes the WAV header reading: the chunk walk, the format checks and the
// strict mono test, on arbitrary bytes.

#include "FuzzSupport.h"
#include "document/CWaveFile.h"
#include "document/WavHeader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kelvane;
    static const std::string path = fuzz::ScratchFile("header.wav");
    if (!fuzz::WriteFile(path, data, size)) return 0;
    CWaveFile file;
    if (!file.Open(path, CWaveFile::Mode::Read)) return 0;
    WavLayout layout;
    const HeaderStatus status = ReadWavHeader(file, layout);
    if (status == HeaderStatus::Ok) {
        // What an accepted header promises must hold.
        if (layout.dataStart < 12 || layout.dataStart > layout.fileLength) std::abort();
        if (layout.dataStart + layout.dataSize > layout.fileLength) std::abort();
        if (layout.bitsPerSample != 16 && layout.bitsPerSample != 24) std::abort();
    }
    (void)HeaderStatusText(status, layout);
    MonoLayout mono;
    if (ReadMonoHeader(file, mono)) {
        if (mono.dataStart + mono.dataSize > layout.fileLength) std::abort();
    }
    return 0;
}
