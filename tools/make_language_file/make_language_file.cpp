// Writes a complete "Language.Txt" with the updater's built-in English texts.
#include <cstdio>

#include "text/default_texts.h"

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "Language.Txt";
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [path]\n", argv[0]);
        return 2;
    }
    if (!WriteDefaultLanguageFile(path)) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    return 0;
}
