#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "base/NominalRate.h"
#include "base/Status.h"
#include "channels/ChannelList.h"
#include "hardware/AudioDev.h"

// The engine's observable state, read-only: what the window, the Control
// Room link and the self-test show. Every assignment, changed or not,
// announces itself through changed(). Main thread only.
class RoomState : public QObject {
    Q_OBJECT

public:
    const QList<AudioDev>& inputs() const { return inputs_; }
    const QList<AudioDev>& outputs() const { return outputs_; }
    const QString& inputUID() const { return inputUID_; }
    const QString& outputUID() const { return outputUID_; }
    const QList<Channel>& channels() const { return channelList_.all(); }
    float mixPeak() const { return mixPeak_; }
    float monPeak() const { return monPeak_; }
    const QString& monLabel() const { return monLabel_; }
    bool running() const { return running_; }
    bool recording() const { return recording_; }
    double elapsed() const { return elapsed_; }
    const QString& status() const { return status_.text; }
    // Whether the status reports a failure (the window shows it in red).
    bool statusIsFailure() const { return status_.failure; }
    const QString& folderName() const { return folderName_; }
    const QString& rootPath() const { return rootPath_; }
    bool linkConnected() const { return linkConnected_; }
    bool showAll() const { return showAll_; }
    // The capture rate of the open device (48000 while stopped).
    int hwRate() const { return hwRate_; }
    // The current or last take folder; empty before the first take.
    const QString& recordingFolder() const { return recordingFolder_; }
    // Seconds of recording the free disk space holds at the rate a take
    // writes (the armed inputs and the mix); negative when not known.
    double remaining() const { return remaining_; }
    // False while the recording volume does not answer.
    bool diskAnswering() const { return diskAnswering_; }
    // Whether headphones can play only on the recording interface (ALSA).
    bool headphonesOnInputOnly() const { return headphonesOnInputOnly_; }

Q_SIGNALS:
    // Emitted on every assignment of an observable property.
    void changed();

protected:
    explicit RoomState(QObject* parent = nullptr) : QObject(parent) {}

    template <typename T, typename V>
    void assign(T& field, V&& value) {
        field = std::forward<V>(value);
        Q_EMIT changed();
    }

    QList<AudioDev> inputs_;
    QList<AudioDev> outputs_;
    QString inputUID_;
    QString outputUID_;
    ChannelList channelList_;
    float mixPeak_ = 0.0f;
    float monPeak_ = 0.0f;
    QString monLabel_ = QStringLiteral("Mix");
    bool running_ = false;
    bool recording_ = false;
    double elapsed_ = 0.0;
    Status status_;
    QString folderName_;
    QString rootPath_;
    bool linkConnected_ = false;
    bool showAll_ = false;
    int hwRate_ = kNominalRate;
    QString recordingFolder_;
    double remaining_ = -1.0;
    bool diskAnswering_ = true;
    bool headphonesOnInputOnly_ = false;
};
