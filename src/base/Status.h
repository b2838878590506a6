#pragma once

#include <QString>

// The one-line status text and whether it reports a failure. Each part that
// words a status knows which kind it is, so the window colours by this flag,
// never by what the text happens to contain.
struct Status {
    QString text;
    bool failure = false;

    static Status ok(const QString& text) { return {text, false}; }
    static Status failed(const QString& text) { return {text, true}; }

    // This status with `more` after it; a failure if either is one.
    Status operator+(const Status& more) const {
        return {text + more.text, failure || more.failure};
    }
    bool empty() const { return text.isEmpty(); }
    bool operator==(const Status&) const = default;
};
