#include "CImporter.h"

#include "document/CApeDecoder.h"
#include "document/CFlacImport.h"
#include "document/CProgressScope.h"
#include "document/CancelQuestions.h"
#include "document/CQuillon3Doc.h"
#include "document/Interaction.h"
#include "document/ScratchFiles.h"
#include "document/WavHeader.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sys/statvfs.h>
#include <unistd.h>
#include <system_error>
#include <vector>

namespace kelvane {

namespace fs = std::filesystem;

std::string ReplaceTail(const std::string& path, size_t n, const std::string& suffix)
{
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t nameLen = path.size() - nameStart;
    return path.substr(0, nameStart + (nameLen > n ? nameLen - n : 0)) + suffix;
}

std::string PathTail(const std::string& path, size_t n)
{
    std::string tail = path.size() > n ? path.substr(path.size() - n) : path;
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail;
}

std::string UnusedName(const std::string& path)
{
    // The scratch names are fixed, but a file that already has one may be
    // the user's own (or another session's): it is never truncated. The
    // first free name "stem-2.ext", "stem-3.ext", ... is taken instead.
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return path;
    const fs::path p(path);
    const std::string stem = (p.parent_path() / p.stem()).string();
    const std::string ext = p.extension().string();
    for (int k = 2; k < 10000; ++k) {
        std::string candidate = stem + "-" + std::to_string(k) + ext;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
    return path + "-" + std::to_string(::getpid());
}

static int64_t StatvfsFreeSpace(const std::string& folder, std::error_code& error)
{
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) {
        error.assign(errno, std::generic_category());
        return -1;
    }
    error.clear();
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

CImporter::CImporter(CQuillon3Doc& doc) : doc_(doc), freeSpace_(StatvfsFreeSpace) {}

OpResult CImporter::Refuse(FailKind kind, const std::string& text)
{
    doc_.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, kind == FailKind::BadInput ? MbIcon::Warning : MbIcon::Error);
    doc_.sourceFile.Close();
    doc_.monoFile.Close();
    return OpResult::Fail(kind, text);
}

std::string CImporter::ScratchFolder(const std::string& path, int tempMode, const std::string& tempPath)
{
    fs::path folder;
    if (tempMode == settings::kTempModeSameFolder) {
        folder = fs::path(path).parent_path();
    } else if (tempMode == settings::kTempModeUser && !tempPath.empty()) {
        folder = fs::path(tempPath);
    } else {
        std::error_code ec;
        folder = fs::temp_directory_path(ec);
        if (ec) folder = "/tmp";
    }
    return folder.string();
}

std::string CImporter::WorkingFilePath(const std::string& sourcePath, int tempMode, const std::string& tempPath)
{
    const std::string name = ReplaceTail(fs::path(sourcePath).filename().string(), 4, "~.wav");
    return (fs::path(ScratchFolder(sourcePath, tempMode, tempPath)) / name).string();
}

OpResult CImporter::CheckSpace(const std::string& folder, int64_t bytes)
{
    const std::string where = folder.empty() ? std::string(".") : folder;
    std::error_code error;
    const int64_t freeBytes = freeSpace_ ? freeSpace_(where, error) : std::numeric_limits<int64_t>::max();
    // A folder that is missing or cannot be asked is not a full disk: the
    // user is told what is really wrong.
    if (error) return Refuse(FailKind::Environment, where + ": " + error.message());
    // No 4 GiB cap on the free space: the decoded source and the working
    // copy together may need more than that.
    const int64_t usable = std::max<int64_t>(freeBytes - kDiskReserve, 0);
    if (usable < bytes) return Refuse(FailKind::Environment, "Insufficient space on Drive " + where);
    return OpResult::Success();
}

// The decoded copy of a FLAC, APE or mono input: named after the input with
// ".tmp" for its extension, made in the working file's folder (the input's
// own folder may be read-only media).
OpResult CImporter::MakeDecodedSource(size_t extensionLength)
{
    const int tempMode = doc_.Settings().Get(settings::TempMode);
    const std::string tempPath = doc_.Settings().Get(settings::TempPath);
    const fs::path folder = ScratchFolder(doc_.userPath, tempMode, tempPath);
    const std::string name = ReplaceTail(fs::path(doc_.userPath).filename().string(), extensionLength, ".tmp");
    std::string error;
    const std::string tmp = CreateFreeScratchFile((folder / name).string(), error);
    if (tmp.empty()) return Refuse(FailKind::Environment, error);
    doc_.sourcePath = tmp;
    return OpResult::Success();
}

OpResult CImporter::Import(const std::string& path)
{
    doc_.originalPath.clear();
    doc_.userPath = path;
    {
        // Checked before anything opens it: opening a FIFO waits for a
        // writer, and a device such as /dev/zero never ends.
        std::error_code ec;
        const auto st = fs::status(path, ec);
        if (ec && ec != std::errc::no_such_file_or_directory)
            return Refuse(FailKind::BadInput, path + ": " + ec.message());
        if (!fs::exists(st)) return Refuse(FailKind::BadInput, "The file \"" + path + "\" cannot be found.");
        if (fs::is_directory(st)) return Refuse(FailKind::BadInput, "\"" + path + "\" is a folder, not an audio file.");
        if (!fs::is_regular_file(st))
            return Refuse(FailKind::BadInput,
                          "\"" + path + "\" is not a regular file (a FIFO, a device or a socket), not an audio file.");
    }

    const bool isWav = PathTail(path, 4) == ".wav";
    const bool isApe = PathTail(path, 4) == ".ape";
    const bool isFlac = PathTail(path, 5) == ".flac";

    if (isWav && doc_.sourceKind != kSourceMerged) {
        if (OpResult r = ImportMono(); !r.Ok()) return r;
    }
    if (doc_.sourceKind != kSourceMono && doc_.sourceKind != kSourceMerged) {
        if (isApe) {
            if (OpResult r = ImportApe(path); !r.Ok()) return r;
        } else if (isFlac) {
            if (OpResult r = ImportFlac(path); !r.Ok()) return r;
        } else {
            doc_.sourcePath = path;
            if (!doc_.sourceFile.Open(path, CWaveFile::Mode::Read)) {
                // Silent in the original design; a batch run needs the reason.
                return Refuse(FailKind::BadInput, doc_.sourceFile.LastError());
            }
        }
    }

    if (OpResult r = ReadHeader(); !r.Ok()) return r;
    doc_.title = doc_.originalPath.empty() ? path : doc_.originalPath;
    return CreateWorkingFile();
}

OpResult CImporter::ImportFlac(const std::string& path)
{
    if (OpResult r = MakeDecodedSource(5); !r.Ok()) return r;
    const std::string tmp = doc_.sourcePath;
    const std::string folder = fs::path(tmp).parent_path().string();
    FlacDecodeOptions options;
    options.acceptDamaged = acceptDamaged_;
    options.beforeDecode = [this, &folder](int64_t wavBytes, int) {
        // The decoded copy and the working copy made from it.
        return wavBytes > 0 ? CheckSpace(folder, 2 * wavBytes) : OpResult::Success();
    };
    if (OpResult r = DecodeFlacToWav(doc_, path, tmp, options); !r.Ok()) {
        doc_.sourcePath.clear();
        return r;
    }
    doc_.sourceKind = kSourceFlac;
    doc_.originalPath = path;
    if (!doc_.sourceFile.Open(tmp, CWaveFile::Mode::Read)) return Refuse(FailKind::Environment, doc_.sourceFile.LastError());
    return OpResult::Success();
}

OpResult CImporter::ImportMono()
{
    const std::string& path = doc_.userPath;
    if (!doc_.monoFile.Open(path, CWaveFile::Mode::Read)) return OpResult::Success();
    MonoLayout mono;
    if (!ReadMonoHeader(doc_.monoFile, mono)) {
        doc_.monoFile.Close();
        // A mono recording cut short is refused for that, not sent on to
        // the stereo checks that would call it the wrong format.
        if (mono.truncated) return Refuse(FailKind::BadInput, TruncationText(mono.dataSize, mono.fileLength - mono.dataStart));
        return OpResult::Success();
    }
    if (mono.repairedZeroSize) doc_.Ui().MessageBox(kMsgRepair, kAppCaption, MbButtons::Ok, MbIcon::Information);
    const int64_t stereoBytes = 2 * mono.dataSize;
    if (stereoBytes + 44 > kMaxBytes16) return Refuse(FailKind::BadInput, kMsgTooLong);

    doc_.sourceKind = kSourceMono;
    doc_.NotifyReset();
    doc_.originalPath = path;
    doc_.monoDataStart = mono.dataStart;
    if (OpResult r = MakeDecodedSource(4); !r.Ok()) return r;
    const std::string tmp = doc_.sourcePath;
    if (!doc_.sourceFile.Open(tmp, CWaveFile::Mode::Create)) return Refuse(FailKind::Environment, doc_.sourceFile.LastError());
    // Pre-sized, not written: the load pass widens the audio into it.
    pendingSourceBytes_ = stereoBytes + 44;
    uint8_t header[44];
    MakeWavHeader(header, mono.sampleRate, 16, 2, static_cast<uint32_t>(stereoBytes));
    bool ok = doc_.sourceFile.SetLength(stereoBytes + 44) && doc_.sourceFile.SeekRaw(0) == 0 &&
              doc_.sourceFile.WriteRaw(header, 44);
    // The first 1024 frames are widened here; the load pass does the rest.
    int16_t in[1024] = {};
    int16_t out[2048];
    doc_.monoFile.SeekRaw(mono.dataStart);
    const int64_t want = std::min<int64_t>(2048, mono.dataSize);
    const int64_t got = doc_.monoFile.ReadRaw(in, want);
    if (got < 0) ok = false;
    const int64_t frames = std::max<int64_t>(got, 0) / 2;
    for (int64_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
    ok = ok && doc_.sourceFile.WriteRaw(out, frames * 4);
    if (!ok) return Refuse(FailKind::Environment, doc_.sourceFile.LastError());
    return OpResult::Success();
}

OpResult CImporter::ImportApe(const std::string& path)
{
    int errorCode = 0;
    std::unique_ptr<CApeDecoder> decoder = CApeDecoder::Open(path, errorCode);
    if (!decoder) {
        char text[96];
        std::snprintf(text, sizeof text, "Error opening APE file. (error code %d)\r\n\r\n", errorCode);
        // The code alone tells the user nothing: the decoder's own words follow.
        return Refuse(FailKind::BadInput, text + CApeDecoder::ErrorMessage(errorCode));
    }
    const int rate = decoder->SampleRate();
    const int bits = decoder->BitsPerSample();
    if (decoder->Channels() != 2 || !IsSupportedRate(rate) || (bits != 16 && bits != 24)) return Refuse(FailKind::BadInput, kMsgBadFormat);
    const int64_t dataBytes = decoder->WavDataBytes();
    if (dataBytes + 44 > (bits == 24 ? kMaxBytes24 : kMaxBytes16)) return Refuse(FailKind::BadInput, kMsgTooLong);
    if (decoder->TotalBlocks() < kBlockBytes / 4) return Refuse(FailKind::BadInput, kMsgTooShort);

    doc_.sourceKind = kSourceApe;
    doc_.originalPath = path;
    if (OpResult r = MakeDecodedSource(4); !r.Ok()) return r;
    const std::string tmp = doc_.sourcePath;
    // The decoded copy and the working copy made from it.
    if (OpResult r = CheckSpace(fs::path(tmp).parent_path().string(), 2 * (dataBytes + 44)); !r.Ok()) return r;
    if (!doc_.sourceFile.Open(tmp, CWaveFile::Mode::Create)) return Refuse(FailKind::Environment, doc_.sourceFile.LastError());
    uint8_t header[44];
    MakeWavHeader(header, rate, bits, 2, static_cast<uint32_t>(dataBytes));
    if (!doc_.sourceFile.SetLength(dataBytes + 44) || doc_.sourceFile.SeekRaw(0) != 0 ||
        !doc_.sourceFile.WriteRaw(header, 44))
        return Refuse(FailKind::Environment, doc_.sourceFile.LastError());
    doc_.inputTags.album = decoder->Tag("Album");
    doc_.inputTags.artist = decoder->Tag("Artist");
    doc_.inputTags.title = decoder->Tag("Title");
    doc_.inputTags.genre = decoder->Tag("Genre");
    doc_.inputTrackNumber = decoder->Tag("Track");
    doc_.sampleRate = rate;
    doc_.bitsPerSample = bits;
    // The whole file is decoded now rather than by the load pass: damage
    // anywhere in it is found before anything else is done, and reported
    // as refused input with the decoder's words.
    return DecodeApe(*decoder);
}

OpResult CImporter::DecodeApe(CApeDecoder& decoder)
{
    CProgressScope progress(doc_);
    const int64_t total = decoder.TotalBlocks();
    progress->SetCaption("Loading APE file...");
    progress->SetStageName(0, "Decode APE File");
    progress->SetStage(0, -1);
    progress->SetRange(0, static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX)));
    constexpr int64_t kChunkBlocks = 0x10000;
    std::vector<uint8_t> buffer(static_cast<size_t>(kChunkBlocks * decoder.BlockAlign()));
    if (!decoder.Seek(0)) return Refuse(FailKind::BadInput, decoder.LastError());
    if (doc_.sourceFile.SeekRaw(44) != 44) return Refuse(FailKind::Environment, doc_.sourceFile.LastError());
    for (int64_t done = 0; done < total;) {
        progress->SetPos(static_cast<int32_t>(std::min<int64_t>(done, INT32_MAX)));
        if (progress.CancelConfirmed(cancel::kReallyCancel))
            return OpResult::Fail(FailKind::Cancelled, std::string(cancel::kReallyCancel));
        const int64_t blocks = decoder.Decode(buffer.data(), std::min(kChunkBlocks, total - done));
        if (blocks <= 0) {
            const std::string text = decoder.LastError().empty() ? "The Monkey's Audio file is damaged." : decoder.LastError();
            return Refuse(FailKind::BadInput, text);
        }
        if (!doc_.sourceFile.WriteRaw(buffer.data(), blocks * decoder.BlockAlign()))
            return Refuse(FailKind::Environment, doc_.sourceFile.LastError());
        done += blocks;
    }
    return OpResult::Success();
}

OpResult CImporter::ReadHeader()
{
    doc_.sampleRate = 44100;
    doc_.bitsPerSample = 16;
    WavLayout layout;
    const HeaderStatus hs = ReadWavHeader(doc_.sourceFile, layout);
    if (hs != HeaderStatus::Ok) return Refuse(FailKind::BadInput, HeaderStatusText(hs, layout));
    if (layout.repairedZeroSize) doc_.Ui().MessageBox(kMsgRepair, kAppCaption, MbButtons::Ok, MbIcon::Information);

    const int64_t length = layout.fileLength;
    const int64_t limit = layout.bitsPerSample == 24 ? kMaxBytes24 : kMaxBytes16;
    // The layout fields below are 32-bit: a file past the limits must never
    // reach them.
    if (length >= (int64_t{1} << 32) || length > limit) {
        tooLong_ = true;
    }
    // The statistics, the scanner and the track finder all work in blocks
    // of 1024 frames; less than one is no recording to restore.
    if (!tooLong_ && layout.dataSize / (layout.bitsPerSample / 8 * 2) < kBlockBytes / 4)
        return Refuse(FailKind::BadInput, kMsgTooShort);
    doc_.sampleRate = layout.sampleRate;
    doc_.bitsPerSample = layout.bitsPerSample;
    doc_.sourceFile.SetBitsPerSample(layout.bitsPerSample);
    doc_.workingFile.SetBitsPerSample(layout.bitsPerSample);
    if (!tooLong_) {
        doc_.dataStart = static_cast<int32_t>(layout.dataStart);
        doc_.dataAlign = doc_.dataStart % 4;
        doc_.trailerBytes = static_cast<int32_t>(length - layout.dataSize - layout.dataStart);
        const int64_t end = layout.bitsPerSample == 16 ? layout.dataStart + layout.dataSize
                                                       : layout.dataStart + layout.dataSize / 3 * 2;
        doc_.dataEnd = static_cast<int32_t>(end);
    }
    sourceLength_ = length;
    return OpResult::Success();
}

OpResult CImporter::CreateWorkingFile()
{
    const int tempMode = doc_.Settings().Get(settings::TempMode);
    const std::string tempPath = doc_.Settings().Get(settings::TempPath);
    // A file past the size limits is refused for that whatever the disk
    // holds: "Insufficient space" would send the user looking for space
    // that could never help.
    if (tooLong_) return Refuse(FailKind::BadInput, kMsgTooLong);
    // Only named here: the space check comes before the file is made.
    const std::string wanted = WorkingFilePath(doc_.sourcePath, tempMode, tempPath);
    const std::string working = FreeScratchName(wanted);
    const std::string folder = fs::path(working).parent_path().string();
    if (OpResult r = CheckSpace(folder, sourceLength_ + pendingSourceBytes_); !r.Ok()) return r;
    // The working copy must never be the user's file or the source itself.
    if (working == doc_.userPath || working == doc_.sourcePath)
        return Refuse(FailKind::Internal, "The working file would overwrite the input file.");
    std::string error;
    // Another run may take the same name meanwhile (two sides of one name
    // in one temporary folder): the next free name is taken then.
    doc_.workingPath = CreateFreeScratchFile(wanted, error);
    if (doc_.workingPath.empty()) return Refuse(FailKind::Environment, error);
    if (!doc_.workingFile.Open(doc_.workingPath, CWaveFile::Mode::Create))
        return Refuse(FailKind::Environment, doc_.workingFile.LastError());
    doc_.workingFile.SetBitsPerSample(doc_.bitsPerSample);

    // The next file dialog starts there, whatever the current folder is then.
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(doc_.userPath), ec);
    if (ec) absolute = fs::path(doc_.userPath);
    doc_.Settings().Set(settings::PathName, absolute.lexically_normal().parent_path().string());
    SetUpDocument();
    return OpResult::Success();
}

void ScaleTable(int rate, std::vector<int32_t>& steps, std::vector<int32_t>& coarse)
{
    static const int32_t k44[] = {0, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 4410, 8820, 22050, 44100, 88200,
                                  220500, 441000, 882000, 2646000, 5292000, 13230000};
    static const int32_t k48[] = {0, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 4800, 9600, 24000, 48000, 96000,
                                  240000, 480000, 960000, 2880000, 5760000, 14400000};
    static const int32_t k88[] = {0, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 8820, 17640, 44100, 88200,
                                  176400, 441000, 882000, 1764000, 5292000, 10584000};
    static const int32_t k96[] = {0, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 9600, 19200, 48000, 96000,
                                  192000, 480000, 960000, 1920000, 5760000, 11520000};
    static const int32_t c44[] = {0, 4410, 8820, 22050, 44100, 88200, 220500, 441000};
    static const int32_t c48[] = {0, 4800, 9600, 24000, 48000, 96000, 240000, 480000};
    static const int32_t c88[] = {0, 8820, 17640, 44100, 88200, 176400, 441000, 882000};
    static const int32_t c96[] = {0, 9600, 19200, 48000, 96000, 192000, 480000, 960000};
    const int32_t* t = rate == 48000 ? k48 : rate == 88200 ? k88 : rate == 96000 ? k96 : k44;
    const int32_t* c = rate == 48000 ? c48 : rate == 88200 ? c88 : rate == 96000 ? c96 : c44;
    steps.assign(t, t + 21);
    coarse.assign(c, c + 8);
}

void CImporter::SetUpDocument()
{
    CQuillon3Doc& d = doc_;
    const int64_t span = static_cast<int64_t>(d.dataEnd) + d.trailerBytes;
    d.blockLevel.assign(static_cast<size_t>(span / kBlockBytes + 1), 0);
    d.blockEnvelope.assign(static_cast<size_t>(span / kBlockBytes + 1), {0, 0, 0, 0});
    d.segmentCorrections.assign(static_cast<size_t>(span / kSegmentBytes + 1), 0);
    d.scanFirst = d.dataStart + kScanMargin;
    d.scanLast = d.dataEnd - kScanMargin;
    d.sourceFile.SetDataBase(d.dataStart);
    d.workingFile.SetDataBase(d.dataStart);
    d.overviewStep = d.sampleRate <= 48000 ? 512 : 1024;
    ScaleTable(d.sampleRate, d.scaleSteps, d.coarseScaleSteps);
}

}  // namespace kelvane
