#include "engine/plist/Plist.h"

namespace Plist {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1970-01-01 to year-month-day of the proleptic Gregorian calendar
// (month 1..12, any day: days past the month's end carry on linearly).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2;
    const int64_t era = FloorDiv(year, 400);
    const int64_t yearOfEra = year - era * 400;                                 // 0..399
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;   // from March 1st
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468 + (day - 1);
}

}  // namespace

// Computed directly in UTC rather than through the C library's local-time
// conversion: no dependence on the machine's time zone or daylight saving,
// and dates before 1970 work.
void Date::set(int month, int day, int year, int hour, int minute, int second)
{
    const int64_t monthIndex = static_cast<int64_t>(month) - 1;
    const int64_t fullYear = year + FloorDiv(monthIndex, 12);
    const int64_t monthOfYear = monthIndex - FloorDiv(monthIndex, 12) * 12 + 1;
    const int64_t seconds = DaysFromCivil(fullYear, monthOfYear, day) * 86400
        + static_cast<int64_t>(hour) * 3600 + static_cast<int64_t>(minute) * 60 + second;

    static const int64_t kFirst = DaysFromCivil(1, 1, 1) * 86400;
    static const int64_t kPastLast = DaysFromCivil(10000, 1, 1) * 86400;
    if (seconds < kFirst || seconds >= kPastLast)
        throw Error("Plist::Date::set() date invalid");
    seconds_ = seconds;
}

}  // namespace Plist
