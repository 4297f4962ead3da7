#include "patchlink/progress_line.h"

#include <cstdio>
#include <cstring>

const char* const ProgressLine::kFallbackFormat = "%s: %.1f %c of %.1f %c";

ProgressLine::Amount ProgressLine::Scale(uint32_t bytes) {
    if (bytes > 1000000u) return {bytes * 0.000001, 'M'};
    if (bytes > 1000u) return {double(bytes / 1000u), 'k'};
    return {double(bytes), 'b'};
}

namespace {

// Skips one conversion after its '%'; returns its conversion letter, or 0
// when the conversion is not one this line may use.
char Conversion(const char*& at) {
    while (*at && std::strchr("-+ #0", *at)) ++at;
    while (*at >= '0' && *at <= '9') ++at;
    if (*at == '.') {
        ++at;
        while (*at >= '0' && *at <= '9') ++at;
    }
    if (*at == 'l' && at[1] && std::strchr("fFeEgG", at[1])) ++at;  // %lf is a double too
    char letter = *at;
    if (!letter) return 0;
    ++at;
    return letter;
}

bool IsFloating(char letter) { return letter && std::strchr("fFeEgG", letter) != nullptr; }

}  // namespace

bool ProgressLine::IsProgressFormat(const char* format) {
    if (!format) return false;
    char letters[6] = {};
    size_t count = 0;
    for (const char* at = format; *at;) {
        if (*at++ != '%') continue;
        if (*at == '%') {
            ++at;
            continue;
        }
        char letter = Conversion(at);
        if (!letter || count == 5) return false;
        letters[count++] = letter;
    }
    return count == 5 && letters[0] == 's' && IsFloating(letters[1]) && letters[2] == 'c' &&
           IsFloating(letters[3]) && letters[4] == 'c';
}

std::string ProgressLine::Format(const char* format, const char* name, uint32_t received,
                                 uint32_t total) {
    Amount got = Scale(received);
    Amount all = Scale(total);
    // The total goes through single precision on its way, as it always has.
    double totalValue = double(float(all.value));
    if (!IsProgressFormat(format)) format = kFallbackFormat;
    char line[kLineSize];
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    std::snprintf(line, sizeof line, format, name, got.value, got.unit, totalValue, all.unit);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return line;
}
