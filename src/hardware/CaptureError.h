#pragma once

#include <QString>
#include <cstdint>
#include <utility>

// Why a capture could not start: the step that failed and the backend's code.
struct CaptureError {
    CaptureError() = default;
    CaptureError(QString s, std::int32_t c, QString words = {})
        : step(std::move(s)), code(c), said(std::move(words)) {}

    QString step;
    std::int32_t code = 0;
    QString said;  // the whole status text, when the backend knows better words for it

    // What every backend reports when the device is not there, or has no inputs.
    static CaptureError deviceNotFound() { return {QStringLiteral("find device"), -1}; }
    static CaptureError noInputs() { return {QStringLiteral("find input channels"), 0}; }

    // "open client failed (17)"
    QString description() const {
        return step + QStringLiteral(" failed (") + QString::number(code) + u')';
    }
};
