#include "patch_command.h"

namespace patchlib {

namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool PatchCommandParser::Parse(const char* commandLine, PatchCommand& command) {
    command = PatchCommand{};
    if (!commandLine) return false;
    std::string line = Trim(commandLine);
    const std::string kSwitch = " -u";
    if (line.size() <= kSwitch.size() ||
        line.compare(line.size() - kSwitch.size(), kSwitch.size(), kSwitch) != 0)
        return false;
    std::string name = Trim(line.substr(0, line.size() - kSwitch.size()));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    if (name.empty()) return false;
    command.patchFile = name;
    command.apply = true;
    return true;
}

}  // namespace patchlib
