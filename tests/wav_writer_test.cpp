#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <cmath>
#include <limits>

#include "recording/TakeRepair.h"
#include "recording/WAVWriter.h"
#include "support/ManualClock.h"
#include "support/WavFile.h"

class WAVWriterTest : public testing::Test {
protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    std::unique_ptr<WAVWriter> make(const std::string& file, int channels = 1, int rate = 48000,
                                    std::string description = "Vocal") {
        return WAVWriter::create({file, channels, rate, kAfternoon, "Tessaly", description}, clock);
    }
    QTemporaryDir dir;
    ManualClock clock;
};

static std::string text(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) {
    return {b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + width)};
}

// Byte for byte, as readers and the repair of interrupted takes expect it.
// At 96 kHz an afternoon start passes 2^32 samples: the high word is used.
TEST_F(WAVWriterTest, TheBroadcastWaveLayoutSamplesCreationAndTheTwoSecondRule) {
    make(path("a.wav"), 2, 96000, "Mix of all armed inputs")->close();
    const auto b = readBytes(path("a.wav"));
    ASSERT_EQ(b.size(), 654u);
    const double sinceMidnight = (14 * 3600 + 15 * 60 + 7.25) * 96000.0;  // 14:15:07.25
    const auto low = static_cast<std::uint32_t>(sinceMidnight - 4294967296.0);
    const std::pair<std::size_t, std::uint32_t> words[] = {
        {4, 646},  {16, 602},    {358, low},       {362, 1},
        {626, 16}, {634, 96000}, {638, 96000 * 6}, {650, 0}};
    for (auto [at, value] : words) EXPECT_EQ(le32(b, at), value) << at;
    const std::pair<std::size_t, std::uint16_t> halves[] = {
        {366, 1}, {630, 1}, {632, 2}, {642, 6}, {644, 24}};
    for (auto [at, value] : halves) EXPECT_EQ(b[at] | b[at + 1] << 8, value) << at;
    EXPECT_EQ(text(b, 0, 4) + text(b, 8, 8), "RIFFWAVEbext");
    EXPECT_EQ(text(b, 20, 256), "Mix of all armed inputs" + std::string(256 - 23, '\0'));
    EXPECT_EQ(text(b, 276, 32), "Tessaly" + std::string(25, '\0'));
    EXPECT_EQ(text(b, 308, 32), "TY-1796476507" + std::string(19, '\0'));
    EXPECT_EQ(text(b, 340, 18), "2026-12-0514:15:07");
    EXPECT_EQ(text(b, 368, 254), std::string(254, '\0'));  // UMID, loudness, reserved
    EXPECT_EQ(text(b, 622, 4) + text(b, 646, 4), "fmt data");
    // A long description is cut to its field. Samples are clamped, scaled to
    // 24 bits and truncated, little-endian.
    auto writer = make(path("b.wav"), 1, 48000, std::string(300, 'x'));
    const float inf = std::numeric_limits<float>::infinity();
    const float in[] = {1.0f, 1.5f, inf, NAN, -1.0f, -3.0f, -inf, 0.0f, 0.5f, -0.5f};
    writer->write(in, 10);
    for (const float& x : in) writer->write(&x, 1);  // one at a time: the plain path
    writer->close();
    const std::vector<std::uint8_t> want = {
        0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F,  // ≥ 1 and NaN
        0x01, 0x00, 0x80, 0x01, 0x00, 0x80, 0x01, 0x00, 0x80,                    // ≤ −1
        0x00, 0x00, 0x00, 0xFF, 0xFF, 0x3F, 0x01, 0x00, 0xC0};                   // 0, ±0.5
    const auto written = readBytes(path("b.wav"));
    EXPECT_EQ(text(written, 20, 257), std::string(256, 'x') + "T");
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin() + 654, written.begin() + 684), want);
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin() + 684, written.end()), want);
    // A file is made in folders that do not exist yet, never from a format no
    // header can describe; its sizes follow the two-second rule and are exact at close.
    std::error_code why;
    EXPECT_TRUE(make(path("new/deeper/x.wav")));
    for (auto [channels, rate] :
         {std::pair{0, 48000}, {1, 0}, {30000, 48000}, {2, 2'000'000'000}}) {
        EXPECT_FALSE(
            WAVWriter::create({path("bad.wav"), channels, rate, kAfternoon, "", ""}, clock, &why));
        EXPECT_EQ(why, std::errc::invalid_argument);
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("bad.wav"))));
    writer = make(path("grow.wav"));
    std::vector<float> second(48000, 0.25f);
    writer->write(second.data(), 0);
    writer->write(second.data(), -1);
    EXPECT_EQ(readBytes(path("grow.wav")).size(), 654u);
    auto sizes = [&] {
        const auto g = readBytes(path("grow.wav"));
        return std::tuple(g.size() - 654, le32(g, 650), le32(g, 4) - 646);
    };
    writer->write(second.data(), 48000);
    clock.advance(2.0);  // not more than 2 s yet
    writer->write(second.data(), 48000);
    EXPECT_EQ(std::get<1>(sizes()), 0u);
    clock.advance(0.001);
    writer->write(second.data(), 48000);
    // Rewritten, and never describing more than the file holds.
    EXPECT_EQ(sizes(), std::tuple(3u * 144000, 3u * 144000, 3u * 144000));
    writer->write(second.data(), 48000);  // within 2 s of that rewrite
    EXPECT_EQ(std::get<1>(sizes()), 3u * 144000);
    writer->close();
    EXPECT_EQ(sizes(), std::tuple(4u * 144000, 4u * 144000, 4u * 144000));
    struct stat st {};
    ASSERT_EQ(::stat(path("grow.wav").c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, 654 + 4 * 144000 + 65536);  // no reserved tail is kept
    // The repair after a crash leaves a file past what a header can describe alone.
    QFile big(QString::fromStdString(path("grow.wav")));
    ASSERT_TRUE(big.resize(5LL << 30));  // sparse
    EXPECT_EQ(TakeRepair::repairFile(path("grow.wav")), TakeRepair::Outcome::tooLarge);
    ASSERT_TRUE(big.open(QIODevice::ReadOnly));
    const QByteArray head = big.read(654);
    EXPECT_TRUE(big.size() == 5LL << 30 &&
                le32(std::vector<std::uint8_t>(head.begin(), head.end()), 650) == 4u * 144000);
}
