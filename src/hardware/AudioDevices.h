#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "hardware/AudioDev.h"

// The device catalogue: what devices exist, which are real interfaces worth
// offering, and what they are called. Nothing is cached: every call asks the
// backend afresh, so a list taken after a device came or went is current.
// Main thread.
namespace AudioDevices {

QList<AudioDev> all();
// Devices with at least one input (output) whose name passes isReal, in order.
QList<AudioDev> inputs();
QList<AudioDev> outputs();
// False when the name contains one of the virtual-device words (any letter case).
bool isReal(const QString& name);
// The first device of all() with exactly this UID, filtered or not.
std::optional<AudioDev> find(const QString& uid);
// Nominal rate in Hz, 0.0 when unknown.
double sampleRate(std::uint32_t id);
bool setSampleRate(std::uint32_t id, double rate);
// One name per input channel, at least one: the device's own, else "Input N".
QStringList inputNames(std::uint32_t id, std::int64_t count);

}  // namespace AudioDevices
