#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "hardware/AudioDev.h"

// The device catalogue: what devices exist, and which are real interfaces
// worth offering. Nothing is cached: all() asks the backend afresh, so a list
// taken after a device came or went is current; the filters work on one such
// reading. Main thread.
namespace AudioDevices {

QList<AudioDev> all();
// Devices with at least one input (output) whose name passes isReal, in order.
QList<AudioDev> inputs(const QList<AudioDev>& devices = all());
QList<AudioDev> outputs(const QList<AudioDev>& devices = all());
// False when the name contains one of the virtual-device words (any letter case).
bool isReal(const QString& name);
// The first device of all() with exactly this UID, filtered or not.
std::optional<AudioDev> find(const QString& uid);
// Nominal rate in Hz, 0.0 when unknown.
double sampleRate(std::uint32_t id);

}  // namespace AudioDevices
