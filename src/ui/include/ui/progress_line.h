// The download progress line of the connecting dialog: byte counts scaled to
// b, k or M and formatted with text_number::kProgressFormat of the text table, whose arguments
// are the file name, the received amount and unit, the total and its unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ProgressLine {
public:
    static constexpr size_t kLineSize = 100;  // 99 characters and the terminator

    struct Amount {
        double value;
        char unit;  // 'b', 'k' or 'M'
    };

    // Above 1,000,000: v x 0.000001 'M'; above 1,000: v / 1,000 in whole
    // thousands 'k'; else v 'b'.
    static Amount Scale(uint32_t bytes);

    // True when `format` takes no more than the progress arguments, in
    // order: %s, a floating conversion, %c, a floating conversion, %c (flags,
    // width and precision allowed; %% as a literal). The text comes from an
    // install file, so anything else is never handed to printf.
    static bool IsProgressFormat(const char* format);

    // The line for `name` with `received` of `total` bytes, cut to 99
    // characters. A format that fails IsProgressFormat is replaced by a
    // built-in one.
    static std::string Format(const char* format, const char* name, uint32_t received,
                              uint32_t total);

    static const char* const kFallbackFormat;
};
