#pragma once

#include <QString>
#include <cstdint>

// Why a capture could not start: the step that failed and the backend's code.
struct CaptureError {
    QString step;
    std::int32_t code = 0;

    // What every backend reports when the device is not there, or has no inputs.
    static CaptureError deviceNotFound() { return {QStringLiteral("find device"), -1}; }
    static CaptureError noInputs() { return {QStringLiteral("find input channels"), 0}; }

    // "open client failed (17)"
    QString description() const {
        return step + QStringLiteral(" failed (") + QString::number(code) + u')';
    }
};
