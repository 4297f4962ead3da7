// Feeds arbitrary bytes to the text table and the server list as the
// install's "Language.Txt" and "ServerList.Txt".
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "text/language_file.h"
#include "text/server_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The files are read by relative names, so each input is written into a
    // scratch directory; libFuzzer reads its corpus by relative paths, so the
    // run goes back afterwards.
    static const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("mrl-fuzz-text-" + std::to_string(getpid()));
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);
    for (const char* name : {"Language.Txt", "ServerList.Txt"})
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    if (OpenLanguageFile()) {
        for (int number : {-1, 0, 1, 2, 3, 51, 94, 184, 187, 1000000}) {
            const char* text = GetLanguageText(number);
            if (std::strlen(text) > 4999 || std::strpbrk(text, "\r\n_")) std::abort();
        }
        CloseLanguageFile();
    }
    const int count = LoadServerList();
    if (count < 0 || count > kServerSlots) std::abort();
    for (int slot = 0; slot < count; ++slot)
        if (!FindServerRecord(run::serverTable.slots[slot].name)) std::abort();
    std::filesystem::current_path(previous);
    return 0;
}
