#include "patch_path.h"

#include <cctype>

namespace patchlib {

namespace {

bool IsReservedDeviceName(const std::string& component) {
    // "CON", "con.txt", "LPT1.dat" all name devices on Windows.
    std::string base = component.substr(0, component.find('.'));
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

bool IsSafeComponent(const std::string& component) {
    if (component.empty() || component == "." || component == "..") return false;
    for (unsigned char c : component)
        if (c < 0x20 || c == 0x7F || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|')
            return false;
    // Windows drops trailing dots and blanks: "a." would open "a".
    if (component.back() == '.' || component.back() == ' ') return false;
    return !IsReservedDeviceName(component);
}

}  // namespace

bool PatchPath::IsSafe(const std::string& path) {
    if (path.empty() || path.size() > 1024 || path.front() == '/') return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('/', start);
        std::string component =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!IsSafeComponent(component)) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::string PatchPath::FoldCase(const std::string& path) {
    std::string folded = path;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

}  // namespace patchlib
