#include "names/windows_names.h"

#include <string>

#include "case_fold.h"
#include "names/patch_path.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

bool IsDeviceName(std::string_view name) {
    // The device is named by what comes before the first dot, blanks dropped.
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (SameLetters(base, device)) return true;
    std::string_view port = base.substr(0, 3);
    if (!SameLetters(port, "COM") && !SameLetters(port, "LPT")) return false;
    std::string_view number = base.substr(port.size());
    if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
    // Superscript 1, 2 and 3 count as digits: a byte of the Western code page,
    // or two in UTF-8.
    for (std::string_view digit : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
        if (number == digit) return true;
    return false;
}

// The names the patch library keeps for itself, in any case: a file of that
// name, downloaded or patched, would be taken for its scratch files or journal.
bool IsLibraryName(std::string_view name) {
    const std::string folded = patchlib::FoldCaseUtf8(name);
    for (std::string_view suffix : {patchlib::kNewSuffix, patchlib::kOldSuffix,
                                    patchlib::kScratchSuffix, patchlib::kGoneSuffix,
                                    patchlib::kJournalName})
        if (folded.size() >= suffix.size() &&
            folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

// Windows gives a long name a second, short one ("Program Files" is also
// PROGRA~1), and opens a file by either: a name of that shape may name
// another file than the one it spells.
bool IsShortNameAlias(std::string_view name) {
    const std::string_view base = name.substr(0, name.rfind('.'));
    for (size_t tilde = base.find('~'); tilde != std::string_view::npos;
         tilde = base.find('~', tilde + 1))
        if (tilde + 1 < base.size() && base[tilde + 1] >= '0' && base[tilde + 1] <= '9')
            return true;
    return false;
}

}  // namespace

bool IsSafeWindowsName(std::string_view name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
        if (std::string_view("/\\:<>\"|?*").find(c) != std::string_view::npos) return false;
    }
    return !IsDeviceName(name) && !IsLibraryName(name) && !IsShortNameAlias(name);
}
