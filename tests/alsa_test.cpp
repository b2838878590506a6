#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "hardware/alsa/AlsaCard.h"

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
}
