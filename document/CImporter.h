#pragma once
// Import: turns the file the user chose into the source file (the user's WAV,
// or a temporary WAV decoded from FLAC or APE input, or widened from mono) and
// an empty working file, and lays out the document for the load pass. The
// audio itself is copied by the load pass (CLoadPass), chunk by chunk.

#include "document/ImportResult.h"

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace kelvane {

class CQuillon3Doc;
class CApeDecoder;

inline constexpr const char* kMsgNotSupported = "The file type is not supported";
inline constexpr const char* kMsgRepair = "The file header is corrupt. The program will perform an emergency repair.";
inline constexpr const char* kMsgTooLong =
    "The file is too long. Files longer than 2GB (3GB if 24-bit) cannot be processed";
inline constexpr const char* kMsgTooShort =
    "The recording is too short: it holds less than one block (1024 frames) of audio.";
inline constexpr int64_t kDiskReserve = 10000000;
inline constexpr int64_t kMaxBytes16 = 0x7FFF0000;
inline constexpr int64_t kMaxBytes24 = 0xBFFF0000;

class CImporter {
public:
    explicit CImporter(CQuillon3Doc& doc);

    // Imports `path` into the emptied document. Failures have been shown to
    // the user; the caller empties the document after one (DeleteContents).
    OpResult Import(const std::string& path);

    // Free bytes in a folder, or the system's error when the folder cannot
    // be queried; replaceable so tests can simulate a full disk.
    using FreeSpaceQuery = std::function<int64_t(const std::string& folder, std::error_code& error)>;
    void SetFreeSpaceQuery(FreeSpaceQuery query) { freeSpace_ = std::move(query); }

    // A damaged FLAC stream is imported (its bad frames as libFLAC gives
    // them) instead of refused.
    void SetAcceptDamaged(bool accept) { acceptDamaged_ = accept; }

    // The folder and name of the working file for a source file.
    static std::string WorkingFilePath(const std::string& sourcePath, int tempMode, const std::string& tempPath);
    // The folder for scratch files made from the input at `path`: the
    // working file, and the decoded copy of a FLAC, APE or mono input.
    static std::string ScratchFolder(const std::string& path, int tempMode, const std::string& tempPath);

private:
    OpResult Refuse(FailKind kind, const std::string& text);
    OpResult MakeDecodedSource(size_t extensionLength);
    OpResult CheckSpace(const std::string& folder, int64_t bytes);
    OpResult ImportMono();
    OpResult ImportApe(const std::string& path);
    OpResult ImportFlac(const std::string& path);
    OpResult DecodeApe(CApeDecoder& decoder);
    OpResult ReadHeader();
    OpResult CreateWorkingFile();
    void SetUpDocument();

    CQuillon3Doc& doc_;
    FreeSpaceQuery freeSpace_;
    bool acceptDamaged_ = false;
    int64_t sourceLength_ = 0;
    // Bytes of the decoded source that are not on the disk yet (it was
    // pre-sized, and the load pass fills it): they count against free space.
    int64_t pendingSourceBytes_ = 0;
    bool tooLong_ = false;
};

// "~.wav" working files, ".tmp" sources: the name with its last n characters
// replaced by `suffix` (an empty stem when the name is shorter).
std::string ReplaceTail(const std::string& path, size_t n, const std::string& suffix);

// path itself when nothing exists there, else the first free "stem-N.ext".
// (Scratch files take theirs from FreeScratchName, which also keeps clear of
// the lock files that guard them.)
std::string UnusedName(const std::string& path);

// Lower-cased last n characters of a path.
std::string PathTail(const std::string& path, size_t n);

// The horizontal scale steps of the waveform view for a rate, and the
// coarse ones (0 then the last seven).
void ScaleTable(int sampleRate, std::vector<int32_t>& steps, std::vector<int32_t>& coarse);

}  // namespace kelvane
