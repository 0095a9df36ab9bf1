// DOS timestamps: a file's time as a ZIP entry holds it, and --mtime.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "inputs/inputs.h"
#include "os/os.h"

namespace pack {

uint32_t DosDateTime(time_t when, bool utc)
{
    struct tm local;
    if (!CalendarTime(when, utc, &local) || local.tm_year < 80)
        return (0 + (1 << 5) + 1) << 16;  // 1980-01-01 00:00:00, the earliest DOS date
    if (local.tm_year > 207)
        return (uint32_t)((127 << 9) | (12 << 5) | 31) << 16 | (23 << 11) | (59 << 5) | 29;
    uint32_t date = (uint32_t)((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    uint32_t time = (uint32_t)(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
}

// What a DOS time can hold, in UTC: 1980-01-01 00:00:00 to 2107-12-31 23:59:59.
constexpr time_t kFirstDosTime = 315532800, kLastDosTime = 4354819199;

time_t ParseTime(const std::string &text, const std::string &what, bool *early)
{
    const char *p = text.c_str();
    if (early)
        *early = false;
    // A time before 1980 (SOURCE_DATE_EPOCH=1, as some build systems set
    // it) is the earliest DOS time, as a file's own time is.
    auto inRange = [&](time_t t) {
        if (t < kFirstDosTime) {
            if (early)
                *early = true;
            return kFirstDosTime;
        }
        if (t > kLastDosTime)
            throw PackError(what + " '" + text + "' is after 2107-12-31, the latest time a ZIP entry holds",
                            Failure::Usage);
        return t;
    };
    bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits && text.size() <= 12)
        return inRange((time_t)strtoll(p, nullptr, 10));
    struct tm when = {};
    int consumed = 0;
    int fields = sscanf(p, "%4d-%2d-%2d%n", &when.tm_year, &when.tm_mon, &when.tm_mday, &consumed);
    bool good = fields == 3 && consumed == 10;
    if (good && p[consumed]) {
        int more = 0;
        good = (p[consumed] == 'T' || p[consumed] == ' ') &&
               sscanf(p + consumed + 1, "%2d:%2d%n", &when.tm_hour, &when.tm_min, &more) == 2;
        consumed += 1 + more;
        if (good && p[consumed] == ':') {
            more = 0;
            good = sscanf(p + consumed + 1, "%2d%n", &when.tm_sec, &more) == 1;
            consumed += 1 + more;
        }
        good = good && !p[consumed];
    }
    if (good)
        good = when.tm_mon >= 1 && when.tm_mon <= 12 && when.tm_mday >= 1 && when.tm_mday <= 31 &&
               when.tm_hour < 24 && when.tm_min < 60 && when.tm_sec < 60;
    if (!good)
        throw PackError(what + " takes seconds since 1970 or YYYY-MM-DD[THH:MM[:SS]] (UTC), not '" + text + "'",
                        Failure::Usage);
    struct tm given = when;
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    time_t t = UtcSeconds(&when);
    // UtcSeconds moves a day that the month does not have into the next one.
    if (when.tm_mday != given.tm_mday || when.tm_mon != given.tm_mon - 1)
        throw PackError(what + " '" + text + "': " + text.substr(0, 10) + " is not a day of the calendar",
                        Failure::Usage);
    return inRange(t);
}

}  // namespace pack
