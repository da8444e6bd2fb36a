#include "document/CApeDecoder.h"
#include "tests/support/ApeTestFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using test::ApeTagItem;

struct ApeCase {
    const char* name;
    int sampleRate;
    int bits;
    int channels;
    int64_t blocks;
    int level;
};

// The long cases span three codec frames of 73728 blocks so that seeks cross
// frame boundaries and the short final frame is exercised.
const ApeCase kCases[] = {
    {"Stereo16", 44100, 16, 2, 160000, 2},    {"Stereo24", 96000, 24, 2, 160000, 2},
    {"Mono16Insane", 22050, 16, 1, 30000, 5}, {"Stereo24ExtraHigh", 48000, 24, 2, 30000, 4},
    {"Mono8", 8000, 8, 1, 20000, 2},
};

void PrintTo(const ApeCase& c, std::ostream* os)
{
    *os << c.name;
}

struct EncodedFile {
    fs::path path;
    std::vector<uint8_t> pcm;
};

// Encoding goes through a JVM, so each file is made once per run.
class ApeFiles {
public:
    static ApeFiles& Get()
    {
        static ApeFiles instance;
        return instance;
    }
    // Null (with `error` set) when the file could not be made.
    const EncodedFile* File(const ApeCase& c, std::string& error)
    {
        auto it = m_files.find(c.name);
        if (it != m_files.end()) return &it->second;
        EncodedFile file;
        file.pcm = test::MakeApeTestSignal(c.bits, c.channels, c.blocks, static_cast<uint32_t>(c.blocks + c.bits));
        const fs::path wav = m_dir.path() / (std::string(c.name) + ".wav");
        file.path = m_dir.path() / (std::string(c.name) + ".ape");
        if (!test::WriteApeSourceWav(wav, c.sampleRate, c.bits, c.channels, file.pcm)) {
            error = "could not write " + wav.string();
            return nullptr;
        }
        if (!test::EncodeApeWithJmac(wav, file.path, c.level, &error)) return nullptr;
        return &m_files.emplace(c.name, std::move(file)).first->second;
    }
    const fs::path& Dir() const { return m_dir.path(); }

private:
    test::TempDir m_dir{"kelvane-ape"};
    std::map<std::string, EncodedFile> m_files;
};

std::unique_ptr<CApeDecoder> OpenOk(const fs::path& path)
{
    int code = -1;
    auto decoder = CApeDecoder::Open(path.string(), code);
    EXPECT_NE(decoder, nullptr) << CApeDecoder::ErrorMessage(code);
    if (decoder) {
        EXPECT_EQ(code, 0);
    }
    return decoder;
}

// Decodes `blocks` blocks at the current position and compares them with the
// source slice starting at `first`.
void ExpectSlice(CApeDecoder& d, const std::vector<uint8_t>& pcm, int64_t first, int64_t blocks)
{
    const size_t align = static_cast<size_t>(d.BlockAlign());
    std::vector<uint8_t> got(static_cast<size_t>(blocks) * align + 1, 0xEE);
    ASSERT_EQ(d.Decode(got.data(), blocks), blocks) << "at block " << first;
    EXPECT_EQ(got.back(), 0xEE) << "wrote past the requested blocks";
    EXPECT_TRUE(std::equal(got.begin(), got.end() - 1, pcm.begin() + static_cast<std::ptrdiff_t>(first * align)))
        << "wrong samples for blocks " << first << ".." << first + blocks;
}

fs::path CopyTo(const fs::path& from, const fs::path& to)
{
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// File offset where codec frame `index` starts, from the header's seek table
// (descriptor length at 8, header length at 12, table right after both).
size_t FrameOffset(const std::vector<uint8_t>& ape, int index)
{
    return Le32(ape, Le32(ape, 12) + Le32(ape, 8) + 4 * size_t(index));
}

class ApeDecoderRoundTrip : public ::testing::TestWithParam<ApeCase> {
protected:
    void SetUp() override
    {
        if (!test::JmacAvailable()) GTEST_SKIP() << "needs " << test::kJmacPath << "; install the libjmac-java package";
        std::string error;
        m_file = ApeFiles::Get().File(GetParam(), error);
        ASSERT_NE(m_file, nullptr) << error;
    }
    const EncodedFile* m_file = nullptr;
};

TEST_P(ApeDecoderRoundTrip, FormatAndSequentialDecode_MatchSourceWav)
{
    const ApeCase& c = GetParam();
    auto d = OpenOk(m_file->path);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->SampleRate(), c.sampleRate);
    EXPECT_EQ(d->BitsPerSample(), c.bits);
    EXPECT_EQ(d->Channels(), c.channels);
    EXPECT_EQ(d->TotalBlocks(), c.blocks);
    EXPECT_EQ(d->BlockAlign(), c.channels * c.bits / 8);
    EXPECT_EQ(d->WavDataBytes(), static_cast<int64_t>(m_file->pcm.size()));
    EXPECT_FALSE(d->HasTag());

    // Chunk sizes the importer uses, plus an odd one that never lines up
    // with a codec frame.
    for (int64_t chunk : {int64_t{65536}, int64_t{4607}}) {
        ASSERT_TRUE(d->Seek(0));
        std::vector<uint8_t> all;
        std::vector<uint8_t> buf(static_cast<size_t>(chunk * d->BlockAlign()));
        int64_t n = 0;
        while ((n = d->Decode(buf.data(), chunk)) > 0)
            all.insert(all.end(), buf.begin(), buf.begin() + n * d->BlockAlign());
        ASSERT_EQ(n, 0) << "decoding failed after " << all.size() << " bytes, chunk " << chunk;
        EXPECT_EQ(all.size(), m_file->pcm.size()) << "chunk " << chunk;
        EXPECT_TRUE(all == m_file->pcm) << "decoded bytes differ from the WAV data, chunk " << chunk;
        EXPECT_EQ(d->Position(), c.blocks);
        EXPECT_EQ(d->Decode(buf.data(), chunk), 0) << "reading past the end";
    }
}

TEST_P(ApeDecoderRoundTrip, SeekAnywhere_DecodesTheExactSlice)
{
    auto d = OpenOk(m_file->path);
    ASSERT_NE(d, nullptr);
    const int64_t total = d->TotalBlocks();

    // Forward and backward jumps, frame edges, and one-block nudges.
    const int64_t targets[] = {total / 2,     1,         total - 1, 73727,        73728, 73729,    total / 3,
                               total / 3 - 1, total / 3, 0,         total - 4000, 17,    total - 1};
    for (int64_t target : targets) {
        const int64_t at = std::clamp<int64_t>(target, 0, total - 1);
        ASSERT_TRUE(d->Seek(at)) << at;
        EXPECT_EQ(d->Position(), at);
        ExpectSlice(*d, m_file->pcm, at, std::min<int64_t>(3000, total - at));
    }

    // The importer's pattern: a full pass in big chunks, then back over the
    // last 1024 blocks.
    ASSERT_TRUE(d->Seek(0));
    std::vector<uint8_t> buf(static_cast<size_t>(65536 * d->BlockAlign()));
    int64_t n = 0;
    while ((n = d->Decode(buf.data(), 65536)) > 0) {
    }
    ASSERT_EQ(n, 0);
    ASSERT_TRUE(d->Seek(total - 1024));
    ExpectSlice(*d, m_file->pcm, total - 1024, 1024);

    // The exact end is a valid place to be, and yields nothing.
    ASSERT_TRUE(d->Seek(total));
    EXPECT_EQ(d->Decode(buf.data(), 10), 0);
    ASSERT_TRUE(d->Seek(5));
    ExpectSlice(*d, m_file->pcm, 5, 10);

    // Out of range leaves the position alone and decoding still works.
    EXPECT_FALSE(d->Seek(-1));
    EXPECT_FALSE(d->Seek(total + 1));
    EXPECT_EQ(d->Position(), 15);
    ExpectSlice(*d, m_file->pcm, 15, 100);
}

INSTANTIATE_TEST_SUITE_P(Formats, ApeDecoderRoundTrip, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class ApeDecoderFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::JmacAvailable()) GTEST_SKIP() << "needs " << test::kJmacPath << "; install the libjmac-java package";
        std::string error;
        m_file = ApeFiles::Get().File(kCases[0], error);
        ASSERT_NE(m_file, nullptr) << error;
    }
    fs::path Scratch(const std::string& name) const { return ApeFiles::Get().Dir() / name; }
    const EncodedFile* m_file = nullptr;
};

TEST_F(ApeDecoderFiles, AppendedTag_FieldsReadBackAndAudioUnchanged)
{
    const fs::path tagged = CopyTo(m_file->path, Scratch("tagged.ape"));
    const std::string cover(3000, '\x89');
    ASSERT_TRUE(test::AppendApeV2Tag(tagged, {
                                                 {"Artist", "Die Ärzte"},
                                                 {"ALBUM", "Live"},
                                                 {"Title", "Side A"},
                                                 {"Cover Art (Front)", "front.jpg\0" + cover, true},
                                                 {"Genre", std::string("Rock\0Punk", 9)},
                                                 {"track", "3/12"},
                                             }));
    // Taggers commonly leave an ID3v1 block behind the APE tag.
    std::vector<uint8_t> id3v1(128, 0);
    std::memcpy(id3v1.data(), "TAGOld title", 12);
    ASSERT_TRUE(test::AppendBytes(tagged, id3v1));
    const auto before = test::ReadFileBytes(tagged);

    auto d = OpenOk(tagged);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->HasTag());
    EXPECT_EQ(d->Tag("Artist"), "Die Ärzte");
    EXPECT_EQ(d->Tag("album"), "Live");
    EXPECT_EQ(d->Tag("TITLE"), "Side A");
    EXPECT_EQ(d->Tag("Genre"), "Rock; Punk");
    EXPECT_EQ(d->Tag("Track"), "3/12");
    EXPECT_EQ(d->Tag("Cover Art (Front)"), "") << "binary items are not text";
    EXPECT_EQ(d->Tag("Year"), "");
    EXPECT_EQ(d->TotalBlocks(), 160000);

    // The tag sits where the last frame ends; it must not leak into audio.
    ASSERT_TRUE(d->Seek(d->TotalBlocks() - 5000));
    ExpectSlice(*d, m_file->pcm, d->TotalBlocks() - 5000, 5000);
    d.reset();
    EXPECT_TRUE(test::ReadFileBytes(tagged) == before) << "the source file was modified";

    auto plain = OpenOk(m_file->path);
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(plain->HasTag());
    EXPECT_EQ(plain->Tag("Artist"), "");
}

TEST_F(ApeDecoderFiles, MalformedTag_IgnoredWithoutHarm)
{
    // A footer claiming more bytes than the file holds, and one whose item
    // runs past the footer: neither may crash or invent fields.
    const fs::path huge = CopyTo(m_file->path, Scratch("hugetag.ape"));
    std::vector<uint8_t> footer = {'A', 'P', 'E',  'T',  'A',  'G',  'E', 'X', 0xD0, 0x07,
                                   0,   0,   0xFF, 0xFF, 0xFF, 0x7F, 5,   0,   0,    0};
    footer.resize(32, 0);
    ASSERT_TRUE(test::AppendBytes(huge, footer));
    auto d = OpenOk(huge);
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->HasTag());

    const fs::path overrun = CopyTo(m_file->path, Scratch("overrun.ape"));
    ASSERT_TRUE(test::AppendApeV2Tag(overrun, {{"Artist", "ok"}, {"Title", "x"}}));
    auto bytes = test::ReadFileBytes(overrun);
    // Second item's value size, counted back from the end: footer 32, item
    // "Title\0x" 8 + 6 + 1.
    const size_t sizeAt = bytes.size() - 32 - (8 + 6 + 1);
    bytes[sizeAt] = 0xFF;
    bytes[sizeAt + 1] = 0xFF;
    ASSERT_TRUE(test::WriteFileBytes(overrun, bytes));
    auto e = OpenOk(overrun);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Tag("Artist"), "ok");
    EXPECT_EQ(e->Tag("Title"), "");
}

TEST_F(ApeDecoderFiles, NotAnApeFile_FailsWithCodeAndMessage)
{
    struct Bad {
        const char* what;
        fs::path path;
    };
    const fs::path garbage = Scratch("garbage.ape");
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 131 + 7);
    ASSERT_TRUE(test::WriteFileBytes(garbage, noise));
    const fs::path wav = Scratch("source.wav");
    ASSERT_TRUE(test::WriteApeSourceWav(wav, 44100, 16, 2, test::MakeApeTestSignal(16, 2, 1000, 1)));
    const fs::path empty = Scratch("empty.ape");
    ASSERT_TRUE(test::WriteFileBytes(empty, {}));
    const fs::path headerOnly = Scratch("header-only.ape");
    auto head = test::ReadFileBytes(m_file->path);
    head.resize(20);
    ASSERT_TRUE(test::WriteFileBytes(headerOnly, head));
    const fs::path folder = Scratch("folder.ape");
    fs::create_directory(folder);

    const Bad bad[] = {{"missing", Scratch("no-such-file.ape")}, {"garbage", garbage}, {"wav", wav}, {"empty", empty},
                       {"cut in the header", headerOnly},        {"folder", folder}};
    for (const auto& b : bad) {
        int code = 0;
        EXPECT_EQ(CApeDecoder::Open(b.path.string(), code), nullptr) << b.what;
        EXPECT_NE(code, 0) << b.what;
        EXPECT_FALSE(CApeDecoder::ErrorMessage(code).empty()) << b.what;
    }
    int code = 0;
    CApeDecoder::Open(Scratch("no-such-file.ape").string(), code);
    EXPECT_EQ(code, ENOENT);
    CApeDecoder::Open(folder.string(), code);
    EXPECT_EQ(code, CApeDecoder::kErrNotAFile);
    CApeDecoder::Open(wav.string(), code);
    EXPECT_EQ(code, CApeDecoder::kErrNotApe);
}

TEST_F(ApeDecoderFiles, DamagedAudio_DecodeReportsError)
{
    const auto original = test::ReadFileBytes(m_file->path);
    auto decodeAll = [](CApeDecoder& d) {
        std::vector<uint8_t> buf(static_cast<size_t>(65536 * d.BlockAlign()));
        int64_t n = 0, total = 0;
        while ((n = d.Decode(buf.data(), 65536)) > 0) total += n;
        return n < 0 ? int64_t{-1} : total;
    };

    // Cut inside the second frame, and cut exactly where the third begins:
    // the header still promises every block either way.
    const size_t cuts[] = {original.size() / 2, FrameOffset(original, 2)};
    for (size_t cutAt : cuts) {
        const fs::path cut = Scratch("cut.ape");
        const std::vector<uint8_t> kept(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(cutAt));
        ASSERT_TRUE(test::WriteFileBytes(cut, kept));
        auto d = OpenOk(cut);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(decodeAll(*d), -1) << "cut at byte " << cutAt;
        std::vector<uint8_t> tail(40);
        EXPECT_FALSE(d->Seek(d->TotalBlocks() - 10) && d->Decode(tail.data(), 10) == 10)
            << "blocks beyond the cut at byte " << cutAt << " cannot be decoded";
        // What lies before the cut is still good.
        ASSERT_TRUE(d->Seek(100));
        ExpectSlice(*d, m_file->pcm, 100, 1000);
    }

    // A flipped bit near the end of the first frame leaves the entropy
    // decoder in step, so only the frame checksum can tell the samples are
    // wrong; they must not be passed off as good.
    const fs::path flipped = Scratch("flipped.ape");
    auto bytes = original;
    bytes[FrameOffset(original, 1) - 6] ^= 0x01;
    ASSERT_TRUE(test::WriteFileBytes(flipped, bytes));
    auto f = OpenOk(flipped);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(decodeAll(*f), -1);
}

}  // namespace
}  // namespace kelvane
