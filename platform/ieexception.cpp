#include "platform/ieexception.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quirelle {

std::string IEFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        result.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}

std::string IESystemErrorText(int errorNumber) {
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("Unknown error");
}

}  // namespace quirelle
