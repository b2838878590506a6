#include "recording/WAVWriter.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <tmmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "recording/DateText.h"
#include "recording/FileCalls.h"

namespace {

// Header bytes after the RIFF size field.
constexpr std::uint32_t kEmptyRiffSize = WAVWriter::headerBytes - 8;
constexpr int kSample = WAVWriter::bytesPerSample;
constexpr std::size_t kRiffSizeAt = 4;
constexpr std::size_t kDataSizeAt = 650;
constexpr double kPatchInterval = 2.0;            // seconds between header rewrites while writing
constexpr std::size_t kBufferBytes = 256 * 1024;  // converted samples gathered per write, at most
// Audio is handed to the kernel at least this often, so that a crash of the
// program (not of the machine) loses no more of it; the block ring and the
// file thread's polling take up the rest of a quarter second.
constexpr double kHandOverSeconds = 0.2;
constexpr std::size_t kSpareBytes = 4;  // encode() may store this far past its samples
constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kReserveBytes = 8 * 1024 * 1024;

class HeaderBytes {
public:
    HeaderBytes() : bytes(WAVWriter::headerBytes, 0) {}
    HeaderBytes& tag(const char (&id)[5]) { return raw(id, 4); }
    HeaderBytes& u16(std::uint16_t v) { return le(v, 2); }
    HeaderBytes& u32(std::uint32_t v) { return le(v, 4); }
    // UTF-8 bytes cut to the field width, zero padded, no terminator when full.
    HeaderBytes& text(const std::string& s, std::size_t width) {
        std::memcpy(&bytes[at], s.data(), std::min(s.size(), width));
        at += width;
        return *this;
    }
    HeaderBytes& zeros(std::size_t n) {
        at += n;
        return *this;
    }
    std::vector<std::uint8_t> done() { return std::move(bytes); }

private:
    HeaderBytes& raw(const char* p, std::size_t n) {
        std::memcpy(&bytes[at], p, n);
        at += n;
        return *this;
    }
    HeaderBytes& le(std::uint64_t v, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) bytes[at++] = static_cast<std::uint8_t>(v >> (8 * i));
        return *this;
    }
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
};

std::uint32_t saturate32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

inline std::int32_t convert(float x) {
    float c = x < 1.0f ? x : 1.0f;  // NaN fails the test and becomes full scale
    c = c > -1.0f ? c : -1.0f;
    return static_cast<std::int32_t>(c * 8388607.0f);
}

// One converted sample as 3 little-endian bytes.
inline void store24(std::uint8_t* out, float x) {
    const auto v = static_cast<std::uint32_t>(convert(x));
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v >> 16);
}

#if defined(__SSE2__)
// Four samples clamped, scaled and truncated as convert() does them: minps
// yields its second operand for NaN, so NaN becomes full scale.
inline __m128i convert4(const float* in) {
    const __m128 x =
        _mm_max_ps(_mm_min_ps(_mm_loadu_ps(in), _mm_set1_ps(1.0f)), _mm_set1_ps(-1.0f));
    return _mm_cvttps_epi32(_mm_mul_ps(x, _mm_set1_ps(8388607.0f)));
}

// SSSE3 packs four 24-bit values into 12 bytes with one shuffle; the 16-byte
// store's 4 spare bytes are overwritten by the next one.
__attribute__((target("ssse3"))) void encodeSSSE3(const float* in, std::size_t n,
                                                  std::uint8_t* out) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i),
                         _mm_shuffle_epi8(convert4(in + i), pack));
    }
    for (; i < n; ++i) {
        store24(out + 3 * i, in[i]);
    }
}
#endif

// Converts `n` samples to 3 little-endian bytes each. May write up to 4 bytes
// past the end: `out` needs room for 3n + 4 bytes.
void encode(const float* in, std::size_t n, std::uint8_t* out) {
#if defined(__SSE2__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) return encodeSSSE3(in, n, out);
#endif
    for (std::size_t i = 0; i < n; ++i) {
        store24(out + 3 * i, in[i]);
    }
}

// Writes all of `bytes` at the current position, or returns the errno that stopped it;
// `written` counts what reached the file either way.
int writeAll(int fd, const std::uint8_t* bytes, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        const ssize_t n = FileCalls::use().write(fd, bytes + written, size - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;  // a regular file that takes nothing will never take more
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

int pwriteU32(int fd, std::uint32_t v, std::size_t at) {
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    for (;;) {
        const ssize_t n = FileCalls::use().pwrite(fd, b, sizeof b, static_cast<off_t>(at));
        if (n == sizeof b) return 0;
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? errno : EIO;
    }
}

}  // namespace

std::int32_t toPCM24(float x) {
    return convert(x);
}

std::vector<std::uint8_t> WAVWriter::header(int channels, int rate, Clock::WallTime start,
                                            const std::string& originator,
                                            const std::string& description) {
    const auto epochSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(start.time_since_epoch()).count();
    const auto timeReference =
        static_cast<std::uint64_t>(secondsSinceLocalMidnight(start) * static_cast<double>(rate));
    // Broadcast-Wave readers expect ASCII digits and the Gregorian calendar here,
    // whatever the user's locale would write (Arabic digits, a Buddhist year).
    static const DateText dateFmt("yyyy-MM-dd", "en_US_POSIX");
    static const DateText timeFmt("HH:mm:ss", "en_US_POSIX");
    const auto ch = static_cast<std::uint32_t>(channels);
    const auto hz = static_cast<std::uint32_t>(rate);

    return HeaderBytes()
        .tag("RIFF")
        .u32(kEmptyRiffSize)
        .tag("WAVE")
        .tag("bext")
        .u32(602)
        .text(description, 256)
        .text(originator, 32)
        .text("TY-" + std::to_string(epochSeconds), 32)
        .text(dateFmt.format(start), 10)
        .text(timeFmt.format(start), 8)
        .u32(static_cast<std::uint32_t>(timeReference))
        .u32(static_cast<std::uint32_t>(timeReference >> 32))
        .u16(1)      // version
        .zeros(64)   // UMID
        .zeros(10)   // loudness fields
        .zeros(180)  // reserved
        .tag("fmt ")
        .u32(16)
        .u16(1)  // integer PCM
        .u16(static_cast<std::uint16_t>(ch))
        .u32(hz)
        .u32(hz * ch * kSample)
        .u16(static_cast<std::uint16_t>(ch * kSample))
        .u16(24)
        .tag("data")
        .u32(0)
        .done();
}

std::unique_ptr<WAVWriter> WAVWriter::create(const Params& p, const Clock& clock,
                                             std::error_code* why) {
    auto refuse = [why](int code) {
        if (why) *why = std::error_code(code, std::generic_category());
        return nullptr;
    };
    // The header stores block align in 16 bits and the byte rate in 32 bits.
    const std::uint64_t byteRate = std::uint64_t(p.rate > 0 ? p.rate : 0) * kSample *
                                   std::uint64_t(p.channels > 0 ? p.channels : 0);
    if (p.channels < 1 || p.channels * kSample > 0xFFFF || p.rate < 1 || byteRate > 0xFFFFFFFFu) {
        return refuse(EINVAL);
    }
    std::error_code ignored;
    std::filesystem::create_directories(p.path.parent_path(), ignored);

    const int fd = ::open(p.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return refuse(errno);
    const auto head = header(p.channels, p.rate, p.start, p.originator, p.description);
    std::size_t written = 0;
    if (const int code = writeAll(fd, head.data(), head.size(), written)) {
        // Without a whole header the file is not a WAV file at all.
        ::close(fd);
        ::unlink(p.path.c_str());
        return refuse(code);
    }
    auto writer = std::unique_ptr<WAVWriter>(new WAVWriter(p, clock, fd));
    // In memory (tmpfs) a reservation only costs: it fills pages at once.
    struct statfs fs {};
    writer->reserving = ::fstatfs(fd, &fs) == 0 && fs.f_type != TMPFS_MAGIC;
    return writer;
}

WAVWriter::WAVWriter(const Params& p, const Clock& c, int file)
    : path(p.path),
      nch(p.channels),
      sampleRate(p.rate),
      clock(c),
      fd(file),
      lastPatch(c.ticks()),
      handOver(
          std::clamp(static_cast<std::size_t>(kHandOverSeconds * p.rate) * p.channels * kSample,
                     std::size_t{kPage}, kBufferBytes)),
      pending(handOver + kSpareBytes) {}

WAVWriter::~WAVWriter() {
    if (fd >= 0) ::close(fd);
}

void WAVWriter::write(const float* interleaved, std::int64_t frames) {
    if (frames < 1 || fd < 0 || err) return;
    std::size_t samples = static_cast<std::size_t>(frames) * static_cast<std::size_t>(nch);
    // Sets roll over well before this; should a backlog still carry a file
    // past what its sizes can say, the file ends exact instead of lying.
    if (dataBytes + kSample * samples > maxDataBytes) {
        if (flush(true)) fail("write", EFBIG);  // a failed flush has said why already
        return;
    }
    while (samples > 0) {
        const std::size_t room = (handOver - pendingBytes) / kSample;
        if (room == 0) {
            if (!flush(false)) return;
            continue;
        }
        const std::size_t n = std::min(samples, room);
        encode(interleaved, n, pending.data() + pendingBytes);
        pendingBytes += kSample * n;
        dataBytes += kSample * n;
        interleaved += n;
        samples -= n;
    }
    if (secondsBetween(lastPatch, clock.ticks()) > kPatchInterval) patch();
}

bool WAVWriter::flush(bool all) {
    std::size_t length = pendingBytes;
    if (!all) {
        // Stop at a page boundary of the file so the next write starts on one.
        const std::uint64_t end = headerBytes + flushedBytes + pendingBytes;
        const std::size_t over = static_cast<std::size_t>(end % kPage);
        if (over < pendingBytes) length -= over;
    }
    // Disk space is reserved well ahead: ext4 then allocates in large runs
    // instead of page by page, which costs less and fragments less. The file's
    // size is not changed; a failure (a full disk) is left to the write.
    const std::uint64_t end = headerBytes + flushedBytes + length;
    if (reserving && end > reserved) {
        reserved = end + kReserveBytes;
        [[maybe_unused]] int ignored =
            ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(reserved));
    }
    std::size_t written = 0;
    const int code = writeAll(fd, pending.data(), length, written);
    flushedBytes += written;
    if (code) {
        fail("write", code);
        return false;
    }
    std::memmove(pending.data(), pending.data() + length, pendingBytes - length);
    pendingBytes -= length;
    return true;
}

bool WAVWriter::writeSizes() {
    if (fd < 0) return false;
    if (pendingBytes > 0 && !flush(true)) return false;  // fail() has rewritten the header
    for (const auto& [value, at] :
         {std::pair{dataBytes + kEmptyRiffSize, kRiffSizeAt}, std::pair{dataBytes, kDataSizeAt}}) {
        if (const int code = pwriteU32(fd, saturate32(value), at)) {
            fail("header update", code);
            return false;
        }
    }
    return true;
}

void WAVWriter::patch() {
    lastPatch = clock.ticks();
    // On stable storage, so that a power cut loses no more than a crash does.
    if (writeSizes() && FileCalls::use().fdatasync(fd) != 0) fail("sync", errno);
}

void WAVWriter::fail(const char* step, int code) {
    if (err) return;
    err = std::error_code(code, std::generic_category());
    errStep = step;
    // What never reached the file is gone; keep whole frames of what did, so
    // the header and the data agree.
    pendingBytes = 0;
    const std::uint64_t frameBytes = static_cast<std::uint64_t>(nch) * kSample;
    dataBytes = flushedBytes - flushedBytes % frameBytes;
    if (dataBytes != flushedBytes) {
        [[maybe_unused]] int ignored = ::ftruncate(fd, static_cast<off_t>(headerBytes + dataBytes));
        flushedBytes = dataBytes;
    }
    writeSizes();  // its sync comes with the close: no wait for a disk that failed
}

void WAVWriter::close() {
    if (fd < 0) return;
    // Give back the space reserved past the end.
    if (reserved > 0 && writeSizes()) {
        [[maybe_unused]] int ignored = ::ftruncate(fd, static_cast<off_t>(headerBytes + dataBytes));
    }
    patch();
    if (::close(fd) != 0 && !err) {
        // The data may not have reached the disk (network volumes report it here).
        err = std::error_code(errno, std::generic_category());
        errStep = "close";
    }
    fd = -1;
}

double WAVWriter::seconds() const {
    return static_cast<double>(dataBytes) / (nch * double{kSample}) / sampleRate;
}
