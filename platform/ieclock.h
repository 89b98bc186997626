// The creation time written into documents: SOURCE_DATE_EPOCH when set (so that outputs are
// reproducible), the clock otherwise.
#pragma once

#include <ctime>
#include <string>

namespace quirelle {

std::time_t IEDocumentTime();

// Local broken-down time of t.
std::tm IELocalTime(std::time_t t);

// English day and month abbreviations, whatever the user's locale ("Wed", "Dec").
const char* IEEnglishDayName(int weekday);    // 0 = Sunday
const char* IEEnglishMonthName(int month);    // 0 = January

}  // namespace quirelle
