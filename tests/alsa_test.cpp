#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "hardware/alsa/AlsaCard.h"
#include "hardware/alsa/AlsaSamples.h"
#include "hardware/alsa/AlsaSystem.h"
#include "hardware/alsa/CardWatch.h"
#include "recording/WAVWriter.h"
#include "support/PretendCard.h"
#include "support/WavFile.h"

// The cards as a machine's /proc and /sys describe them, nothing opened: two
// identical interfaces told apart by their serials, a built-in card without
// a USB stream file, and a card that only plays.
TEST(AlsaCards, ListedFromWhatTheSystemSaysUnderTheUidJackGivesThem) {
    QTemporaryDir tree;
    const QString root = tree.path();
    auto put = [&](const QString& file, const QString& text) {
        QDir().mkpath(QFileInfo(root + file).path());
        QFile f(root + file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) > 0) << file.data();
    };
    put("/proc/asound/cards",
        " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n                      HDA Intel PCH at "
        "0xf\n"
        " 1 [USB            ]: USB-Audio - Scarlett 18i20 USB\n"
        " 3 [HDMI           ]: HDA-Intel - HDA ATI HDMI\n"
        "10 [USB_1          ]: USB-Audio - Scarlett 18i20 USB\n");
    for (const auto& [card, id, serial] :
         {std::tuple{0, "PCH", ""}, {1, "USB", "P9AB"}, {3, "HDMI", ""}, {10, "USB_1", "Q7CD"}}) {
        const QString dir = QString("/proc/asound/card%1").arg(card);
        put(dir + "/id", QString(id) + "\n");
        put(dir + "/pcm3p/info", "playback\n");
        if (card != 3) put(dir + "/pcm0c/info", "capture\n");
        if (*serial) {  // the sound device is an interface of the USB device
            const QString usb = root + QString("/sys/devices/usb1/1-%1").arg(card);
            put(QString("/sys/devices/usb1/1-%1/serial").arg(card), QString(serial) + "\n");
            QDir().mkpath(usb + "/1.0");
            QDir().mkpath(root + QString("/sys/class/sound/card%1").arg(card));
            ASSERT_TRUE(QFile::link(usb + "/1.0",
                                    root + QString("/sys/class/sound/card%1/device").arg(card)));
            put(dir + "/stream0",
                "Focusrite Scarlett 18i20 USB at usb-1, high speed : USB Audio\n\nPlayback:\n"
                "  Interface 1\n    Altset 1\n    Channels: 20\nCapture:\n  Interface 2\n"
                "    Altset 1\n    Channels: 18\n    Altset 2\n    Channels: 14\n");
        }
    }
    const QList<AlsaCard> cards = AlsaCard::all(root);
    QStringList seen;
    for (const AlsaCard& c : cards)
        seen << QString("%1 %2 %3 %4 %5")
                    .arg(c.index)
                    .arg(c.uid(), c.name, c.pcm(c.captures[0]))
                    .arg(c.captureChannels);
    EXPECT_EQ(seen, (QStringList{"0 alsa:PCH HDA Intel PCH hw:CARD=PCH,DEV=0 0",
                                 "1 alsa:USB:P9AB Scarlett 18i20 USB hw:CARD=USB,DEV=0 18",
                                 "10 alsa:USB_1:Q7CD Scarlett 18i20 USB hw:CARD=USB_1,DEV=0 18"}));
    // The same card as jackd2's "system" shows it, by index or by id.
    for (const AlsaCard& c : cards) {
        for (const QString& alias : {QString("alsa_pcm:hw:%1,0:capture_1").arg(c.index),
                                     QString("alsa_pcm:hw:%1:capture_1").arg(c.id)})
            EXPECT_EQ(AlsaCard::behind(alias, root).value_or(AlsaCard{}).uid(), c.uid())
                << alias.toStdString();
    }
    EXPECT_FALSE(AlsaCard::behind("alsa_pcm:hw:7,0:capture_1", root));
    EXPECT_TRUE(AlsaCard::all(root + "/nothing").isEmpty());
    // As the backend offers them: the second of two models numbered, a card
    // that does not open (none does here) offering what the system says or
    // two channels, and a PCM by name with its description and all it offers.
    ASSERT_TRUE(pretend::declare(qEnvironmentVariable("XDG_CONFIG_HOME"), root + "/control"));
    seen.clear();
    for (const AudioDev& d : AlsaSystem({"card", "nothing"}, root).devices())
        seen << QString("%1 %2 %3/%4").arg(d.uid, d.name).arg(d.inputs).arg(d.outputs);
    EXPECT_EQ(seen,
              (QStringList{"alsa:PCH HDA Intel PCH 2/2", "alsa:USB:P9AB Scarlett 18i20 USB 18/2",
                           "alsa:USB_1:Q7CD Scarlett 18i20 USB 2 18/2",
                           "alsa-pcm:card Pretend Card 20/20"}));
}

// Every value a card can deliver reaches the file as it was, whichever of
// the formats USB interfaces offer carries it: the 24-bit ones bit for bit
// through the writer (but -8388608, which full scale clips), the 16-bit ones
// as their 24-bit equals. The headphones' way back keeps values and channels.
TEST(AlsaSamples, EveryValueOfTheCardReachesTheFileUnchanged) {
    constexpr std::int32_t lowest = -8388607, highest = 8388607, chunk = 1 << 20;
    QTemporaryDir dir;
    const std::string file = (dir.path() + "/all.wav").toStdString();
    auto writer = WAVWriter::create({file, 1, 48000, {}, "", ""});
    ASSERT_TRUE(writer);
    std::vector<std::uint32_t> s32(chunk), s24in4(chunk);
    std::vector<std::uint8_t> s24in3(3 * chunk);
    std::vector<float> a(chunk), b(chunk);
    for (std::int32_t from = lowest; from <= highest; from += chunk) {
        const int n = std::min(chunk, highest - from + 1);
        for (int i = 0; i < n; ++i) {
            const std::int32_t v = from + i;
            s32[i] = static_cast<std::uint32_t>(v) << 8 | 0xA5;  // the unused bits ignored
            s24in4[i] = (static_cast<std::uint32_t>(v) & 0xFFFFFF) | (v < 0 ? 0 : 0x5A000000);
            std::memcpy(&s24in3[3 * i], &v, 3);
        }
        float* const out[] = {a.data()};
        float* const other[] = {b.data()};
        deinterleave(AlsaFormat::s32With24Bits, s32.data(), 1, n, out);
        writer->write(a.data(), n);
        deinterleave(AlsaFormat::s24InThree, s24in3.data(), 1, n, other);
        ASSERT_EQ(std::memcmp(a.data(), b.data(), n * sizeof(float)), 0) << from;
        deinterleave(AlsaFormat::s24InFour, s24in4.data(), 1, n, other);
        ASSERT_EQ(std::memcmp(a.data(), b.data(), n * sizeof(float)), 0) << from;
    }
    writer->close();
    const std::vector<std::uint8_t> bytes = readBytes(file);
    ASSERT_EQ(bytes.size(), WAVWriter::headerBytes + 3 * std::size_t(highest - lowest + 1));
    for (std::int32_t v = lowest; v <= highest; ++v) {
        const std::size_t at = WAVWriter::headerBytes + 3 * std::size_t(v - lowest);
        const auto read = static_cast<std::int32_t>(bytes[at] << 8 | bytes[at + 1] << 16 |
                                                    std::uint32_t(bytes[at + 2]) << 24) >>
                          8;
        ASSERT_EQ(read, v);
    }
    // 16 bits: each the same as its 24-bit equal.
    std::vector<std::int16_t> s16(65536);
    std::vector<std::uint32_t> same(65536);
    for (int i = 0; i < 65536; ++i) {
        s16[i] = static_cast<std::int16_t>(i - 32768);
        same[i] = static_cast<std::uint32_t>((i - 32768) * 256) << 8;
    }
    float* const out[] = {a.data()};
    float* const other[] = {b.data()};
    deinterleave(AlsaFormat::s16, s16.data(), 1, 65536, out);
    deinterleave(AlsaFormat::s32With24Bits, same.data(), 1, 65536, other);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), 65536 * sizeof(float)), 0);
    // Three channels to the card and back, in every format: each its own.
    const std::vector<std::vector<float>> sent = {{1.0f, -1.0f, 0.0f, 0.5f},
                                                  {12345 / 8388607.0f, 2.0f, -3.0f, NAN},
                                                  {-0.25f, 1e-7f, -1e-7f, 0.75f}};
    for (const AlsaFormat f : {AlsaFormat::s32With24Bits, AlsaFormat::s24InThree,
                               AlsaFormat::s24InFour, AlsaFormat::s16}) {
        std::vector<std::uint8_t> card(4 * 3 * sampleBytes(f));
        std::vector<std::vector<float>> back(3, std::vector<float>(4));
        const float* const in[] = {sent[0].data(), sent[1].data(), sent[2].data()};
        float* const got[] = {back[0].data(), back[1].data(), back[2].data()};
        interleave(f, in, 3, 4, card.data());
        deinterleave(f, card.data(), 3, 4, got);
        const float step = f == AlsaFormat::s16 ? 256 / 8388607.0f : 1 / 8388607.0f;
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 4; ++i) {
                const float want = sent[c][i] == sent[c][i] ? std::clamp(sent[c][i], -1.0f, 1.0f)
                                                            : 0.0f;  // NaN plays silence
                EXPECT_NEAR(back[c][i], want, step) << int(f) << " " << c << " " << i;
            }
        }
    }
}

// A card plugged in or pulled is one change, seen within a second, whether
// /dev/snd was there before or comes with the first card and goes with the
// last.
TEST(AlsaCards, ACardThatComesOrGoesIsOneChangeWithinASecond) {
    QTemporaryDir tree;
    const QString snd = tree.path() + "/dev/snd";
    ASSERT_TRUE(QDir().mkpath(tree.path() + "/dev"));
    int changes = 0;
    CardWatch watch(tree.path(), [&] { ++changes; });
    auto nodes = [&](int card, bool add) {
        for (const QString& node : {QString("controlC%1").arg(card), QString("pcmC%1D0c").arg(card),
                                    QString("pcmC%1D0p").arg(card)}) {
            QFile f(snd + "/" + node);
            ASSERT_TRUE(add ? f.open(QIODevice::WriteOnly) : f.remove());
        }
    };
    // Waits a second and a little more: the change came within the second, once.
    auto seen = [&](int before) {
        QElapsedTimer t;
        t.start();
        int at = -1;
        while (t.elapsed() < 1300) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (at < 0 && changes > before) at = int(t.elapsed());
        }
        return changes == before + 1 && at >= 0 && at < 1000;
    };
    ASSERT_TRUE(QDir().mkpath(snd));  // the first card
    nodes(0, true);
    EXPECT_TRUE(seen(0)) << changes;
    nodes(1, true);
    EXPECT_TRUE(seen(1)) << changes;
    nodes(1, false);
    EXPECT_TRUE(seen(2)) << changes;
    nodes(0, false);  // the last card, and its folder with it
    ASSERT_TRUE(QDir(snd).removeRecursively());
    EXPECT_TRUE(seen(3)) << changes;
    ASSERT_TRUE(QDir().mkpath(snd));  // and one again
    nodes(2, true);
    EXPECT_TRUE(seen(4)) << changes;
}
