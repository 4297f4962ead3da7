#include "driver/install_files.h"

#include <cstdio>
#include <cstring>

#include "driver/decimal_text.h"
#include "platform/file.h"

namespace {
constexpr int kVersionChars = 8;
}  // namespace

std::string CutPathLine(const char* line) {
    size_t length = std::strlen(line);
    return std::string(line, length < 2 ? 0 : length - 2);
}

std::optional<uint32_t> ReadVersionFile(const char* path) {
    platform::File file(path, "rb");
    if (!file) return std::nullopt;
    char text[kVersionChars + 1] = {};
    if (std::fgets(text, sizeof text, file.get()) == nullptr) text[0] = '\0';
    // Eight characters at most: the value always fits 32 bits.
    return static_cast<uint32_t>(ParseDecimal(text));
}
