#include "driver/install_files.h"

#include <cstdio>
#include <cstring>

#include "driver/decimal_text.h"

namespace {
constexpr int kVersionChars = 8;
}  // namespace

std::string CutPathLine(const char* line) {
    size_t length = std::strlen(line);
    return std::string(line, length < 2 ? 0 : length - 2);
}

std::optional<uint32_t> ReadVersionFile(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return std::nullopt;
    char text[kVersionChars + 1] = {};
    if (std::fgets(text, sizeof text, file) == nullptr) text[0] = '\0';
    std::fclose(file);
    // Eight characters at most: the value always fits 32 bits.
    return static_cast<uint32_t>(ParseDecimal(text));
}
