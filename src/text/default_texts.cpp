#include "text/default_texts.h"

#include <cstdio>

namespace {

struct DefaultText {
    int number;
    const char* text;
};

// No underscores: the text table removes them. Texts 78 to 82 must stay
// within 999 characters (they are copied into 1000-byte buffers), 80 within
// 99 and 82 within 499 (the server selection dialog's buffers).
// 187 is formatted with one argument (the missing list file) and with four
// (path, path, size found, expected size): only its first conversion may be
// a conversion, so that both calls stay well-defined.
constexpr DefaultText kDefaultTexts[] = {
    {51, "The game server does not answer. Please try again later or choose another server."},
    {78, "Server"},
    {79, "Mirelands web site"},
    {80, "https://mirelands.example.com/"},
    {81, "Choose the game server you want to play on, then press Connect."},
    {82, "Select a server in the list to see its description."},
    {85,
     "The connection to the patch server failed. Please check your network and try again later."},
    {94, "The game could not be brought back to version %u. Please reinstall the game."},
    {183, "Postpone patch"},
    {184, "%s: %.1f %c of %.1f %c"},
    {187, "The file %s is missing or damaged. Please reinstall the game if it does not start."},
};

}  // namespace

const char* GetDefaultLanguageText(int number) {
    for (const DefaultText& entry : kDefaultTexts) {
        if (entry.number == number) return entry.text;
    }
    return nullptr;
}

bool WriteDefaultLanguageFile(const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    // Comment lines do not count: the numbering starts with the next line.
    std::fputs(
        "* Mirelands Auto Update texts. Text N is the N-th line that is\r\n"
        "* neither a comment (*) nor blank; underscores are removed.\r\n",
        file);
    for (int number = 1; number <= kHighestTextNumber; ++number) {
        const char* text = GetDefaultLanguageText(number);
        if (text) {
            std::fprintf(file, "%s\r\n", text);
        } else {
            std::fprintf(file, "Text %d\r\n", number);
        }
    }
    bool ok = std::ferror(file) == 0;
    if (std::fclose(file) != 0) ok = false;
    return ok;
}
