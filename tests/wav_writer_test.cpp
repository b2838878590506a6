#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>

#include "recording/WAVWriter.h"
#include "support/ManualClock.h"
#include "support/WavFile.h"

namespace {

// 2026-12-05 14:15:07.25 in Berlin (UTC+1), the test binaries' time zone.
const Clock::WallTime kStart = Clock::WallTime(std::chrono::milliseconds(1'796'476'507'250LL));

class WAVWriterTest : public testing::Test {
protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    std::unique_ptr<WAVWriter> make(const std::string& file, int channels = 1, int rate = 48000,
                                    std::string originator = "Tessaly",
                                    std::string description = "Vocal") {
        return WAVWriter::create({file, channels, rate, kStart, originator, description}, clock);
    }
    QTemporaryDir dir;
    ManualClock clock;
};

}  // namespace

TEST_F(WAVWriterTest, HeaderIsByteForByteTheBroadcastWaveLayout) {
    auto writer = make(path("a.wav"), 2, 44100, "Tessaly", "Mix of all armed inputs");
    ASSERT_TRUE(writer);
    writer->close();
    const auto b = readBytes(path("a.wav"));
    ASSERT_EQ(b.size(), 654u);
    EXPECT_EQ(field(b, 0, 4), "RIFF");
    EXPECT_EQ(le32(b, 4), 646u);
    EXPECT_EQ(field(b, 8, 4), "WAVE");
    EXPECT_EQ(field(b, 12, 4), "bext");
    EXPECT_EQ(le32(b, 16), 602u);
    EXPECT_EQ(field(b, 20, 256), "Mix of all armed inputs" + std::string(256 - 23, '\0'));
    EXPECT_EQ(field(b, 276, 32), "Tessaly" + std::string(25, '\0'));
    EXPECT_EQ(field(b, 308, 32), "TY-1796476507" + std::string(19, '\0'));
    EXPECT_EQ(field(b, 340, 10), "2026-12-05");
    EXPECT_EQ(field(b, 350, 8), "14:15:07");
    const std::uint64_t samplesSinceMidnight =
        static_cast<std::uint64_t>((14 * 3600 + 15 * 60 + 7.25) * 44100);
    EXPECT_EQ(le32(b, 358), static_cast<std::uint32_t>(samplesSinceMidnight));
    EXPECT_EQ(le32(b, 362), 0u);
    EXPECT_EQ(le16(b, 366), 1u);
    EXPECT_EQ(field(b, 368, 254), std::string(254, '\0'));  // UMID, loudness, reserved
    EXPECT_EQ(field(b, 622, 4), "fmt ");
    EXPECT_EQ(le32(b, 626), 16u);
    EXPECT_EQ(le16(b, 630), 1u);
    EXPECT_EQ(le16(b, 632), 2u);
    EXPECT_EQ(le32(b, 634), 44100u);
    EXPECT_EQ(le32(b, 638), 44100u * 6);
    EXPECT_EQ(le16(b, 642), 6u);
    EXPECT_EQ(le16(b, 644), 24u);
    EXPECT_EQ(field(b, 646, 4), "data");
    EXPECT_EQ(le32(b, 650), 0u);

    // Text fields are cut to their width; an empty one is all zeros.
    auto cut = make(path("b.wav"), 1, 48000, "", std::string(300, 'x'));
    ASSERT_TRUE(cut);
    cut->close();
    const auto c = readBytes(path("b.wav"));
    EXPECT_EQ(field(c, 20, 256), std::string(256, 'x'));
    EXPECT_EQ(field(c, 276, 32), std::string(32, '\0'));
}

TEST_F(WAVWriterTest, SamplesAreClampedScaledAndTruncated) {
    auto writer = make(path("s.wav"));
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float in[] = {1.0f, 1.5f, inf, nan, -1.0f, -3.0f, -inf, 0.0f, 0.5f, -0.5f};
    writer->write(in, 10);
    writer->close();
    const auto b = readBytes(path("s.wav"));
    const std::vector<std::uint8_t> want = {
        0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F,  // ≥ 1 and NaN
        0x01, 0x00, 0x80, 0x01, 0x00, 0x80, 0x01, 0x00, 0x80,                    // ≤ −1
        0x00, 0x00, 0x00,                                                        // 0
        0xFF, 0xFF, 0x3F,                                                        // 4194303
        0x01, 0x00, 0xC0,                                                        // −4194303
    };
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 654, b.end()), want);
}

TEST_F(WAVWriterTest, SizesFollowTheTwoSecondRuleAndAreExactAtClose) {
    auto empty = make(path("empty.wav"));
    clock.advance(3.0);
    const float none[1] = {0};
    empty->write(none, 0);
    empty->write(none, -1);
    empty->close();
    const auto e = readBytes(path("empty.wav"));
    EXPECT_EQ(e.size(), 654u);
    EXPECT_EQ(le32(e, 4), 646u);
    EXPECT_EQ(le32(e, 650), 0u);

    auto writer = make(path("grow.wav"));
    std::vector<float> second(48000, 0.25f);
    writer->write(second.data(), 48000);
    clock.advance(2.0);  // not more than 2 s yet
    writer->write(second.data(), 48000);
    auto b = readBytes(path("grow.wav"));
    EXPECT_EQ(le32(b, 4), 646u);
    EXPECT_EQ(le32(b, 650), 0u);
    clock.advance(0.001);
    writer->write(second.data(), 48000);
    // Rewritten, and never describing more than the file holds.
    b = readBytes(path("grow.wav"));
    EXPECT_EQ(le32(b, 650), 3u * 144000);
    EXPECT_EQ(le32(b, 4), 3u * 144000 + 646);
    EXPECT_EQ(b.size(), 654u + 3 * 144000);
    writer->write(second.data(), 48000);  // within 2 s of that rewrite
    b = readBytes(path("grow.wav"));
    EXPECT_EQ(le32(b, 650), 3u * 144000);
    EXPECT_GE(b.size(), 654u + 3 * 144000);
    EXPECT_DOUBLE_EQ(writer->seconds(), 4.0);
    writer->close();
    b = readBytes(path("grow.wav"));
    EXPECT_EQ(b.size(), 654u + 4 * 144000);
    struct stat st {};
    ASSERT_EQ(::stat(path("grow.wav").c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, static_cast<long>(b.size()) + 65536);  // no reserved tail is kept
    EXPECT_EQ(le32(b, 650), 4u * 144000);
    EXPECT_EQ(le32(b, 4), 4u * 144000 + 646);
    EXPECT_FALSE(writer->failed());
}

TEST_F(WAVWriterTest, LibsndfileReadsSamplesAndBroadcastInfo) {
    auto writer = make(path("r.wav"), 2, 96000, "Tessaly", "Kick / In");
    std::vector<float> frames(2 * 5000);
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = std::sin(0.001f * i) * 0.9f;
    writer->write(frames.data(), 2500);
    writer->write(frames.data() + 5000, 2500);
    writer->close();

    const SndRead r = readWithSndfile(path("r.wav"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.info.samplerate, 96000);
    EXPECT_EQ(r.info.channels, 2);
    EXPECT_EQ(r.info.frames, 5000);
    EXPECT_EQ(r.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(r.samples[i], static_cast<int>(frames[i] * 8388607.0f)) << i;
    }
    ASSERT_TRUE(r.hasBext);
    EXPECT_STREQ(r.bext.description, "Kick / In");
    EXPECT_EQ(std::string(r.bext.originator, 7), "Tessaly");
    EXPECT_EQ(std::string(r.bext.originator_reference, 13), "TY-1796476507");
    EXPECT_EQ(std::string(r.bext.origination_date, 10), "2026-12-05");
    EXPECT_EQ(std::string(r.bext.origination_time, 8), "14:15:07");
    // At 96 kHz an afternoon start passes 2^32 samples: the high word is used.
    const auto reference = static_cast<std::uint64_t>((14 * 3600 + 15 * 60 + 7.25) * 96000);
    EXPECT_EQ(r.bext.time_reference_low, static_cast<std::uint32_t>(reference));
    EXPECT_EQ(r.bext.time_reference_high, static_cast<std::uint32_t>(reference >> 32));
    EXPECT_EQ(r.bext.time_reference_high, 1u);
}

// Odd-sized writes, several internal flushes and a header rewrite in the
// middle must still give every sample once, in order.
TEST_F(WAVWriterTest, LongRecordingsSurviveEveryBufferBoundary) {
    auto writer = make(path("long.wav"), 2, 48000);
    std::vector<float> ramp(2 * 400'000);
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<float>(static_cast<int>(i % 16'000'000) - 8'000'000) / 8'388'608.0f;
    }
    std::size_t at = 0;
    for (std::size_t size : {1, 7, 1000, 100'003, 3, 65'536, 2, 90'001}) {
        writer->write(ramp.data() + 2 * at, static_cast<std::int64_t>(size));
        at += size;
        if (size == 3) clock.advance(2.5);
    }
    writer->write(ramp.data() + 2 * at, static_cast<std::int64_t>(400'000 - at));
    writer->close();
    const SndRead r = readWithSndfile(path("long.wav"));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.info.frames, 400'000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ASSERT_EQ(r.samples[i], toPCM24(ramp[i])) << i;
}

TEST_F(WAVWriterTest, AFullDiskStopsTheFileWithAHeaderThatMatchesItsData) {
    // A file size limit fails writes past a chosen byte exactly as a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 654 + 100'001;  // 33333 frames and one byte
    auto writer = make(path("full.wav"));
    ASSERT_TRUE(writer);
    std::vector<float> block(30000);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<float>(i % 1000) / 2000.0f;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    for (int i = 0; i < 4; ++i) writer->write(block.data(), 30000);  // 360000 bytes
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(writer->failed());
    EXPECT_EQ(writer->error(), std::errc::file_too_large);
    EXPECT_STREQ(writer->failedStep(), "write");
    writer->write(block.data(), 30000);  // ignored: the error is sticky
    writer->close();

    const SndRead r = readWithSndfile(path("full.wav"));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.info.frames, 33333);
    for (int f = 0; f < 33333; ++f) ASSERT_EQ(r.samples[f], toPCM24(block[f % 30000])) << f;
    const auto b = readBytes(path("full.wav"));
    EXPECT_EQ(b.size(), 654u + 33333 * 3);
    EXPECT_EQ(le32(b, 650), 33333u * 3);
    EXPECT_EQ(le32(b, 4), 33333u * 3 + 646);
}

TEST_F(WAVWriterTest, CreationRefusesWhatCannotBeAFile) {
    std::error_code why;
    // Missing folders are made.
    EXPECT_TRUE(
        WAVWriter::create({path("new/deeper/x.wav"), 1, 48000, kStart, "", ""}, clock, &why));
    // Formats the header cannot describe.
    for (auto [channels, rate] :
         {std::pair{0, 48000}, {1, 0}, {30000, 48000}, {2, 2'000'000'000}}) {
        EXPECT_FALSE(
            WAVWriter::create({path("bad.wav"), channels, rate, kStart, "", ""}, clock, &why));
        EXPECT_EQ(why, std::errc::invalid_argument);
    }
    EXPECT_FALSE(std::filesystem::exists(path("bad.wav")));
    // An existing file is replaced.
    auto first = make(path("same.wav"));
    const float s[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    first->write(s, 4);
    first->close();
    make(path("same.wav"))->close();
    EXPECT_EQ(readBytes(path("same.wav")).size(), 654u);
}
