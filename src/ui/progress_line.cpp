#include "ui/progress_line.h"

#include <cstdio>
#include <cstring>

#include "text/message_format.h"

const char* const ProgressLine::kFallbackFormat = "%s: %.1f %c of %.1f %c";

ProgressLine::Amount ProgressLine::Scale(uint32_t bytes) {
    if (bytes > 1000000u) return {bytes * 0.000001, 'M'};
    if (bytes > 1000u) return {double(bytes / 1000u), 'k'};
    return {double(bytes), 'b'};
}

bool ProgressLine::IsProgressFormat(const char* format) {
    // File name, received amount and unit, total amount and unit.
    return FormatFitsArguments(format, "sfcfc");
}

std::string ProgressLine::Format(const char* format, const char* name, uint32_t received,
                                 uint32_t total) {
    Amount got = Scale(received);
    Amount all = Scale(total);
    // The total goes through single precision on its way to the line.
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
