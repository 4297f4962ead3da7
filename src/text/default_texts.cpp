#include "text/default_texts.h"

#include <cstdio>

#include "platform/file.h"
#include "text/text_numbers.h"

namespace {

struct DefaultText {
    int number;
    const char* text;
};

// No underscores: the text table removes them. The start-up texts must stay
// within 999 characters (they are copied into 1000-byte buffers), the link
// target within 99 and the description within 499 (the server selection
// dialog's buffers). The install check's text is formatted with one argument (the missing list
// file) and with four (path, path, size found, expected size): only its first conversion may be a
// conversion, so that both calls stay well-defined.
constexpr DefaultText kDefaultTexts[] = {
    {text_number::kGameServerSilent,
     "The game server does not answer. Please try again later or choose another server."},
    {text_number::kServerLabel, "Server"},
    {text_number::kLinkCaption, "Mirelands web site"},
    {text_number::kLinkTarget, "https://mirelands.example.com/"},
    {text_number::kServerHint, "Choose the game server you want to play on, then press Connect."},
    {text_number::kServerDescription, "Select a server in the list to see its description."},
    {text_number::kNetworkFailure,
     "The connection to the patch server failed. Please check your network and try again later."},
    {text_number::kDowngradeFailed,
     "The game could not be brought back to version %u. Please reinstall the game."},
    {text_number::kPostpone, "Postpone patch"},
    {text_number::kProgressFormat, "%s: %.1f %c of %.1f %c"},
    {text_number::kInstallCheck,
     "The file %s is missing or damaged. Please reinstall the game if it does not start."},
};

}  // namespace

const char* GetDefaultLanguageText(int number) {
    for (const DefaultText& entry : kDefaultTexts) {
        if (entry.number == number) return entry.text;
    }
    return nullptr;
}

bool WriteDefaultLanguageFile(const char* path) {
    platform::File holder(path, "wb");
    if (!holder) return false;
    std::FILE* file = holder.get();
    // Comment lines do not count: the numbering starts with the next line.
    std::fputs(
        "* Mirelands Auto Update texts. Text N is the N-th line that is\r\n"
        "* neither a comment (*) nor blank; underscores are removed.\r\n",
        file);
    for (int number = 1; number <= text_number::kHighest; ++number) {
        const char* text = GetDefaultLanguageText(number);
        if (text) {
            std::fprintf(file, "%s\r\n", text);
        } else {
            std::fprintf(file, "Text %d\r\n", number);
        }
    }
    bool ok = std::ferror(file) == 0;
    return holder.Close() && ok;
}
