#include "recording/DateText.h"

#include <unicode/calendar.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <cstdint>

namespace {

UDate toUDate(Clock::WallTime t) {
    return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}

}  // namespace

DateText::DateText(std::string_view pattern, const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    auto made = std::make_unique<icu::SimpleDateFormat>(
        icu::UnicodeString::fromUTF8(
            icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size()))),
        locale ? icu::Locale(locale) : icu::Locale::getDefault(), status);
    if (U_SUCCESS(status)) fmt = std::move(made);
}

DateText::~DateText() = default;

std::string DateText::format(Clock::WallTime t) const {
    std::string out;
    if (!fmt) return out;
    icu::UnicodeString text;
    {
        std::lock_guard guard(lock);
        fmt->format(toUDate(t), text);
    }
    text.toUTF8String(out);
    return out;
}

double secondsSinceLocalMidnight(Clock::WallTime t) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> cal(icu::Calendar::createInstance(status));
    if (U_FAILURE(status)) return 0.0;
    const UDate at = toUDate(t);
    cal->setTime(at, status);
    cal->set(UCAL_HOUR_OF_DAY, 0);
    cal->set(UCAL_MINUTE, 0);
    cal->set(UCAL_SECOND, 0);
    cal->set(UCAL_MILLISECOND, 0);
    const UDate midnight = cal->getTime(status);  // whole milliseconds
    if (U_FAILURE(status)) return 0.0;
    // Subtract in whole nanoseconds: a double count of milliseconds since 1970
    // is too coarse to keep a quarter second exact.
    const auto midnightNs = static_cast<std::int64_t>(midnight) * 1'000'000;
    const auto sinceNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count() -
        midnightNs;
    return static_cast<double>(sinceNs) / 1e9;
}
