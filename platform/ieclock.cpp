#include "platform/ieclock.h"

#include <cerrno>
#include <cstdlib>

namespace quirelle {

std::time_t IEDocumentTime() {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(epoch, &end, 10);
        if (errno == 0 && end && *end == '\0' && value >= 0) return static_cast<std::time_t>(value);
    }
    return std::time(nullptr);
}

std::tm IELocalTime(std::time_t t) {
    std::tm result{};
    localtime_r(&t, &result);
    return result;
}

const char* IEEnglishDayName(int weekday) {
    static const char* const names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    return names[((weekday % 7) + 7) % 7];
}

const char* IEEnglishMonthName(int month) {
    static const char* const names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return names[((month % 12) + 12) % 12];
}

}  // namespace quirelle
