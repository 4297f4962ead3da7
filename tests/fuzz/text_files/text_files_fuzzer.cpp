// Feeds arbitrary bytes to the text table and the server list as the
// install's "Language.Txt" and "ServerList.Txt".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <string>

#include "ui/language_file.h"
#include "ui/server_table.h"

namespace {

// The files are opened by relative names, so each input runs in a scratch
// directory; libFuzzer reads its corpus by relative paths, so the run goes
// back to where it started afterwards.
class ScratchDirectory {
public:
    ScratchDirectory() : previous_(std::filesystem::current_path()) {
        static const std::filesystem::path dir = [] {
            auto path = std::filesystem::temp_directory_path() /
                        ("mrl-fuzz-text-" + std::to_string(std::time(nullptr)));
            std::filesystem::create_directories(path);
            return path;
        }();
        std::filesystem::current_path(dir);
    }
    ~ScratchDirectory() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

bool WriteFile(const char* name, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(name, "wb");
    if (!file) return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScratchDirectory scratch;
    if (!WriteFile("Language.Txt", data, size) || !WriteFile("ServerList.Txt", data, size))
        return 0;

    if (OpenLanguageFile()) {
        for (int number : {-1, 0, 1, 2, 3, 51, 94, 184, 187, 1000000}) {
            const char* text = GetLanguageText(number);
            const size_t length = std::strlen(text);
            if (length > 4999 || std::strpbrk(text, "\r\n_")) std::abort();
        }
        CloseLanguageFile();
    }

    const int count = LoadServerList();
    if (count < 0 || count > kServerSlots) std::abort();
    for (int slot = 0; slot < count; ++slot) {
        const ServerRecord& record = serverTable.slots[slot];
        if (std::strpbrk(record.name, "\r\n") ||
            std::strlen(record.linkTarget) >= kServerFieldSize) {
            std::abort();
        }
        if (FindServerRecord(record.name) == nullptr) std::abort();
    }
    return 0;
}
