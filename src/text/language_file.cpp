#include "text/language_file.h"

#include <cstdio>
#include <cstring>
#include "platform/file.h"
#include "platform/sync.h"

#include "text/default_texts.h"

namespace {

// A line is read with a bound of 4999 bytes; a longer one reads as several.
constexpr int kResultSize = 5000;

platform::CriticalSection languageLock;
platform::File languageFile;  // guarded by languageLock

// Each thread gets its own result, so a text stays intact while another
// thread (the download receiver or the main thread) looks up the next one.
thread_local char resultBuffer[kResultSize];

// Comment lines start with '*', blank lines with CR or LF; neither counts.
bool IsTextLine(const char* line) { return line[0] != '*' && line[0] != '\r' && line[0] != '\n'; }

// Cuts the line at its first CR or LF and removes every underscore.
void CleanText(char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0' && *in != '\r' && *in != '\n'; ++in) {
        if (*in != '_') *out++ = *in;
    }
    *out = '\0';
}

void CopyResult(const char* text) {
    std::snprintf(resultBuffer, sizeof resultBuffer, "%s", text ? text : "");
}

// Reads from the start of the file to text `number`. A read at the end of
// the file leaves the buffer as it was and would count again whenever the
// last line is a text, so past the end the last line is the result when it
// is a text; when the file ends in a comment or blank line, the result is
// empty instead of reading forever.
void ReadText(std::FILE* file, int number) {
    resultBuffer[0] = '\0';
    if (number < 1) return;
    std::rewind(file);
    bool lastIsText = false;
    int counted = 0;
    while (counted < number) {
        if (!std::fgets(resultBuffer, kResultSize, file)) {
            if (!lastIsText) resultBuffer[0] = '\0';
            break;
        }
        lastIsText = IsTextLine(resultBuffer);
        if (lastIsText) ++counted;
    }
    CleanText(resultBuffer);
}

}  // namespace

bool OpenLanguageFile() {
    platform::CriticalSectionGuard guard(languageLock);
    languageFile = platform::File("Language.Txt", "rb");
    return bool(languageFile);
}

const char* GetLanguageText(int number) {
    platform::CriticalSectionGuard guard(languageLock);
    if (languageFile) {
        ReadText(languageFile.get(), number);
    } else {
        // No table (missing at start-up, or already closed on the way out):
        // the built-in English texts stand in.
        CopyResult(GetDefaultLanguageText(number));
    }
    return resultBuffer;
}

void CloseLanguageFile() {
    platform::CriticalSectionGuard guard(languageLock);
    languageFile.Close();
}
