#include "CWaveFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvane {

CWaveFile::~CWaveFile() { Close(); }

bool CWaveFile::Fail(const std::string& what)
{
    lastError_ = what + ": " + std::strerror(errno);
    return false;
}

bool CWaveFile::Open(const std::string& path, Mode mode)
{
    Close();
    path_ = path;
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) return Fail(path);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        Fail(path);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    offset_ = 0;
    return true;
}

void CWaveFile::Close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    offset_ = 0;
}

int64_t CWaveFile::Length() const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool CWaveFile::SetLength(int64_t bytes)
{
    if (fd_ < 0) return false;
    if (::ftruncate(fd_, bytes) != 0) return Fail(path_);
    return true;
}

int64_t CWaveFile::MapPosition(int64_t position) const
{
    if (bits_ != 24) return position;
    // C-style division: positions before dataBase never occur in callers,
    // but the header area maps 1:1 through the same arithmetic as before.
    return dataBase_ + ((position - dataBase_) / 2) * 3;
}

int64_t CWaveFile::SeekRaw(int64_t offset)
{
    if (fd_ < 0 || offset < 0) return -1;
    offset_ = offset;
    return offset_;
}

int64_t CWaveFile::Seek(int64_t position) { return SeekRaw(MapPosition(position)); }

int64_t CWaveFile::ReadBytesAt(int64_t offset, void* buffer, int64_t bytes)
{
    if (fd_ < 0) {
        errno = EBADF;
        Fail(path_.empty() ? std::string("(no file)") : path_);
        return -1;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < bytes) {
        ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(bytes - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(path_);
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t CWaveFile::ReadRaw(void* buffer, int64_t bytes)
{
    const int64_t done = ReadBytesAt(offset_, buffer, bytes);
    if (done > 0) offset_ += done;
    return done;
}

bool CWaveFile::WriteRaw(const void* buffer, int64_t bytes)
{
    if (fd_ < 0) {
        errno = EBADF;
        return Fail(path_.empty() ? std::string("(no file)") : path_);
    }
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < bytes) {
        ssize_t n = ::pwrite(fd_, in + done, static_cast<size_t>(bytes - done), offset_ + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(path_);
        }
        done += n;
    }
    offset_ += done;
    return true;
}

int64_t CWaveFile::Read16From(int64_t offset, void* buffer, int64_t count, std::vector<uint8_t>& scratch,
                              int64_t& taken)
{
    taken = 0;
    if (bits_ != 24) {
        const int64_t got = ReadBytesAt(offset, buffer, count);
        if (got > 0) taken = got;
        return got;
    }
    int64_t samples = count / 2;
    scratch.resize(static_cast<size_t>(samples * 3));
    int64_t got = ReadBytesAt(offset, scratch.data(), samples * 3);
    if (got < 0) return -1;
    taken = got;
    int64_t whole = got / 3;
    auto* out = static_cast<int16_t*>(buffer);
    const uint8_t* in = scratch.data();
    for (int64_t i = 0; i < whole; ++i, in += 3)
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(in[1] | (in[2] << 8)));
    return got * 2 / 3;
}

int64_t CWaveFile::Read(void* buffer, int64_t count)
{
    int64_t taken = 0;
    const int64_t got = Read16From(offset_, buffer, count, scratch_, taken);
    offset_ += taken;
    return got;
}

int64_t CWaveFile::ReadAt(int64_t position, void* buffer, int64_t count)
{
    const int64_t offset = MapPosition(position);
    if (offset < 0) return -1;
    int64_t taken = 0;
    return Read16From(offset, buffer, count, atScratch_, taken);
}

bool CWaveFile::WriteAs24(const void* buffer, int64_t count)
{
    if (bits_ != 24) return WriteRaw(buffer, count);
    int64_t samples = count / 2;
    scratch_.resize(static_cast<size_t>(samples * 3));
    const auto* in = static_cast<const int16_t*>(buffer);
    uint8_t* out = scratch_.data();
    for (int64_t i = 0; i < samples; ++i, out += 3) {
        auto v = static_cast<uint16_t>(in[i]);
        out[0] = 0;
        out[1] = static_cast<uint8_t>(v & 0xFF);
        out[2] = static_cast<uint8_t>(v >> 8);
    }
    return WriteRaw(scratch_.data(), samples * 3);
}

int64_t CWaveFile::Read24From(int64_t offset, int32_t* values, int64_t n, std::vector<uint8_t>& scratch,
                              int64_t& taken)
{
    taken = 0;
    int bytesPer = bits_ == 24 ? 3 : 2;
    scratch.resize(static_cast<size_t>(n * bytesPer));
    int64_t got = ReadBytesAt(offset, scratch.data(), n * bytesPer);
    if (got < 0) return -1;
    taken = got;
    int64_t whole = got / bytesPer;
    const uint8_t* in = scratch.data();
    if (bytesPer == 3) {
        for (int64_t i = 0; i < whole; ++i, in += 3) {
            int32_t high = static_cast<int16_t>(static_cast<uint16_t>(in[1] | (in[2] << 8)));
            values[i] = high * 256 + in[0];
        }
    } else {
        int64_t i = 0;
#if defined(__SSE2__)
        // Four little-endian samples at a time, each paired with itself and
        // shifted down: sign-extended to 32 bits.
        for (; i + 4 <= whole; i += 4, in += 8) {
            const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(values + i), _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
        }
#endif
        for (; i < whole; ++i, in += 2)
            values[i] = static_cast<int16_t>(static_cast<uint16_t>(in[0] | (in[1] << 8)));
    }
    return whole;
}

int64_t CWaveFile::Read24(int32_t* values, int64_t n)
{
    int64_t taken = 0;
    const int64_t got = Read24From(offset_, values, n, scratch_, taken);
    offset_ += taken;
    return got;
}

int64_t CWaveFile::Read24At(int64_t position, int32_t* values, int64_t n)
{
    const int64_t offset = MapPosition(position);
    if (offset < 0) return -1;
    int64_t taken = 0;
    return Read24From(offset, values, n, atScratch_, taken);
}

bool CWaveFile::Write24(const int32_t* values, int64_t n)
{
    int bytesPer = bits_ == 24 ? 3 : 2;
    scratch_.resize(static_cast<size_t>(n * bytesPer));
    uint8_t* out = scratch_.data();
    // One loop per width, so that the 16-bit one (the common case, and a
    // whole pass's write-back) has no test inside.
    if (bytesPer == 3) {
        for (int64_t i = 0; i < n; ++i, out += 3) {
            auto v = static_cast<uint32_t>(values[i]);
            out[0] = static_cast<uint8_t>(v & 0xFF);
            out[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            out[2] = static_cast<uint8_t>((v >> 16) & 0xFF);
        }
    } else {
        int64_t i = 0;
#if defined(__SSE2__)
        // The low 16 bits of four values at a time: sign-extended from
        // there, the saturating pack keeps them as they are (x86 stores
        // them little-endian, as the file wants them).
        for (; i + 4 <= n; i += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
            const __m128i low = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * i), _mm_packs_epi32(low, low));
        }
#endif
        for (; i < n; ++i) {
            auto v = static_cast<uint32_t>(values[i]);
            out[2 * i] = static_cast<uint8_t>(v & 0xFF);
            out[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
        }
    }
    return WriteRaw(scratch_.data(), n * bytesPer);
}

}  // namespace kelvane
