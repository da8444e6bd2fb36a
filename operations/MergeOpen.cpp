#include "MergeOpen.h"

#include "document/CImporter.h"
#include "document/CQuillon3Doc.h"
#include "document/CWaveFile.h"
#include "document/Interaction.h"
#include "document/ScratchFiles.h"
#include "document/WavHeader.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kelvane {

namespace {

namespace fs = std::filesystem;

OpResult Refuse(CQuillon3Doc& doc, const std::string& text)
{
    doc.Ui().MessageBox(text, kAppCaption, MbButtons::Ok, MbIcon::Warning);
    return OpResult::Fail(FailKind::BadInput, text);
}

struct InputFormat {
    uint8_t fmt[16] = {};
    int rate = 0;
    int bits = 0;
};

// Reads one input's header into its merge record; false for a file that is
// no WAV we can join (the caller words it).
bool ReadInput(CWaveFile& file, MergeInput& input, InputFormat& format)
{
    const int64_t length = file.Length();
    uint8_t riff[12];
    if (length < 12 || file.SeekRaw(0) != 0 || file.ReadRaw(riff, 12) != 12) return false;
    if (!ChunkIdIs(reinterpret_cast<const char*>(riff), "RIFF") ||
        !ChunkIdIs(reinterpret_cast<const char*>(riff + 8), "WAVE"))
        return false;
    int64_t pos = 12;
    uint32_t size = 0;
    if (!WalkToChunk(file, length, "FMT ", pos, size) || size < 16) return false;
    if (file.SeekRaw(pos) != pos || file.ReadRaw(format.fmt, 16) != 16) return false;
    format.rate = static_cast<int>(ReadLe32(format.fmt + 4));
    const int align = ReadLe16(format.fmt + 12);
    if (align != 4 && align != 6) return false;
    format.bits = 4 * align;
    if (!WalkToChunk(file, length, "DATA", pos, size)) return false;
    input.start = pos;
    // A data chunk that claims more than the file holds joins what is there.
    input.end = std::min<int64_t>(pos + size, length);
    input.end -= (input.end - input.start) % align;
    input.align = static_cast<int32_t>(pos % 4);
    return true;
}

void RemoveMerged(const std::string& path)
{
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace

bool MergedNameIsAnInput(const MergeRequest& request)
{
    for (const std::string& in : request.inputs) {
        if (in == request.mergedPath) return true;
        std::error_code ec;
        if (fs::equivalent(in, request.mergedPath, ec)) return true;
        const fs::path a = fs::weakly_canonical(in, ec);
        if (!ec && a == fs::weakly_canonical(request.mergedPath, ec) && !ec) return true;
    }
    return false;
}

OpResult MergeOpen(CQuillon3Doc& doc, const MergeRequest& request)
{
    if (request.inputs.size() < 2) return Refuse(doc, kMsgMergeNeedsTwo);
    if (MergedNameIsAnInput(request)) return Refuse(doc, kMsgMergedNameInvalid);
    {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(request.mergedPath, ec)) &&
            (!request.overwrite || !fs::is_regular_file(fs::status(request.mergedPath, ec))))
            return Refuse(doc, WithText(kMsgMergedExists, request.mergedPath));
    }
    doc.DeleteContents();

    std::vector<MergeInput> list;
    InputFormat first;
    uint64_t total = 0;
    std::vector<uint8_t> firstFrames;
    for (size_t k = 0; k < request.inputs.size(); ++k) {
        const std::string& path = request.inputs[k];
        std::error_code ec;
        CWaveFile file;
        if (!fs::is_regular_file(fs::status(path, ec)) || !file.Open(path, CWaveFile::Mode::Read))
            return Refuse(doc, kMsgMergeCannotOpen);
        MergeInput input;
        input.path = path;
        InputFormat format;
        if (!ReadInput(file, input, format)) return Refuse(doc, kMsgMergeBadFormat);
        if (k == 0) {
            if (!IsSupportedRate(format.rate)) return Refuse(doc, kMsgMergeBadFormat);
            first = format;
            firstFrames.resize(static_cast<size_t>(format.bits == 24 ? 6144 : 4096));
            file.SeekRaw(input.start);
            const int64_t want = std::min<int64_t>(static_cast<int64_t>(firstFrames.size()), input.end - input.start);
            const int64_t got = file.ReadRaw(firstFrames.data(), want);
            firstFrames.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
        } else if (format.rate != first.rate || format.bits != first.bits) {
            return Refuse(doc, kMsgMergeBadFormat);
        }
        total += static_cast<uint64_t>(input.end - input.start);
        list.push_back(std::move(input));
    }
    // Positions are 32-bit: a merged side past the limits could never be
    // processed, so nothing is written for it.
    const int64_t limit = first.bits == 24 ? kMaxBytes24 : kMaxBytes16;
    if (total + 44 > static_cast<uint64_t>(limit)) return Refuse(doc, kMsgTooLong);

    const std::string& merged = request.mergedPath;
    uint8_t header[44];
    std::copy_n("RIFF", 4, header);
    PutLe32(header + 4, static_cast<uint32_t>(total + 36));
    std::copy_n("WAVEfmt ", 8, header + 8);
    PutLe32(header + 16, 16);
    std::copy_n(first.fmt, 16, header + 20);
    std::copy_n("data", 4, header + 36);
    PutLe32(header + 40, static_cast<uint32_t>(total));
    const bool made = doc.sourceFile.Open(merged, CWaveFile::Mode::Create);
    if (!made || !doc.sourceFile.SetLength(static_cast<int64_t>(total) + 44) || !doc.sourceFile.WriteRaw(header, 44) ||
        !doc.sourceFile.WriteRaw(firstFrames.data(), static_cast<int64_t>(firstFrames.size()))) {
        const std::string error = doc.sourceFile.LastError();
        doc.sourceFile.Close();
        if (made) RemoveMerged(merged);
        doc.Ui().MessageBox(error, kAppCaption, MbButtons::Ok, MbIcon::Error);
        return OpResult::Fail(FailKind::Environment, error);
    }

    doc.sourceKind = kSourceMerged;
    doc.sourcePath = merged;
    doc.mergeList = std::move(list);
    CImporter importer(doc);
    OpResult imported = importer.Import(merged);
    if (!imported.Ok()) {
        doc.DeleteContents();
        RemoveMerged(merged);
        return imported;
    }
    doc.originalPath = merged;
    doc.status = kStatusNotScanned;
    if (request.opened) {
        if (OpResult r = request.opened(doc); !r.Ok()) {
            doc.DeleteContents();
            RemoveMerged(merged);
            return r;
        }
    }

    const OpResult processed = ProcessRecording(doc, request.process);
    if (!doc.loaded) {
        // An incomplete merged file is nobody's recording.
        doc.DeleteContents();
        RemoveMerged(merged);
        return processed;
    }
    if (request.deleteInputs) {
        for (const std::string& path : request.inputs) {
            std::error_code ec;
            if (fs::exists(path, ec)) fs::remove(path, ec);
        }
    }
    return processed;
}

}  // namespace kelvane
