#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/Clock.h"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class SimpleDateFormat;
U_NAMESPACE_END

// Renders a time with a Unicode date pattern ("MMM d", "h.mm.ss a", …) in the
// time zone that is the process default when the formatter is made, and in
// the default locale and calendar unless `locale` names another. Safe to
// share between threads.
class DateText {
public:
    explicit DateText(std::string_view pattern, const char* locale = nullptr);
    ~DateText();
    DateText(const DateText&) = delete;
    DateText& operator=(const DateText&) = delete;

    // UTF-8 text of `t`; empty if the pattern could not be used.
    std::string format(Clock::WallTime t) const;

private:
    mutable std::mutex lock;  // ICU formatters are not safe for concurrent use
    std::unique_ptr<icu::SimpleDateFormat> fmt;
};

// Seconds from the start of the local day of `t` (default calendar and time
// zone) to `t`, with the fraction.
double secondsSinceLocalMidnight(Clock::WallTime t);
