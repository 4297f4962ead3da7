#include "install_check.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "driver/decimal_text.h"
#include "platform/file.h"
#include "driver/install_files.h"
#include "text/message_format.h"
#include "text/language_file.h"
#include "text/text_numbers.h"

namespace {

constexpr int kInstallCheckText = text_number::kInstallCheck;
constexpr int kPathLineRoom = 999;  // 998 characters and the terminator
constexpr int kSizeLineRoom = 99;   // 98 characters and the terminator
constexpr const char* kEndLine = "END";

// Used when the text table's install-check text does not take the arguments we pass.
constexpr const char* kListMissingFallback = "The file %s of your installation is missing.\r\n";
constexpr const char* kWrongSizeFallback = "Your file %s is damaged: %s has %u bytes instead of %s";

// A file handle closed when the entry is done.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (IsOpen()) ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

HANDLE OpenUnshared(const std::string& path, DWORD access) {
    return ::CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

void ShowWarning(HWND owner, const std::string& text) {
    ::MessageBoxA(owner, text.c_str(), kWarningCaption, MB_OK | MB_ICONEXCLAMATION);
}

// Reads one line (line end kept) into a zero-filled buffer; false at the end
// of the file.
bool ReadLine(FILE* file, char* buffer, int room) {
    std::memset(buffer, 0, size_t(room));
    return std::fgets(buffer, room, file) != nullptr;
}

void ReportWrongSize(HWND owner, const std::string& path, uint32_t found, const char* sizeLine) {
    // The size line is quoted as read, line end included.
    std::string format = GetLanguageText(kInstallCheckText);
    ShowWarning(owner, FormatMessageText(format.c_str(), kWrongSizeFallback, "ssus", path.c_str(),
                                         path.c_str(), found, sizeLine));
}

// Nothing could be opened for writing: the file is either in use (it can
// still be read) or missing. The exclusive handle of the first attempt is
// still open here, which is why an existing empty file counts as missing.
void ReportUnopenable(HWND owner, const std::string& path) {
    Handle reader(OpenUnshared(path, GENERIC_READ));
    const char* format = reader.IsOpen() ? kFileInUseFormat : kFileMissingFormat;
    ShowWarning(owner, FormatMessageText(format, format, "s", path.c_str()));
}

// Checks one entry; false when the list ends before the entry's size line.
bool CheckEntry(HWND owner, FILE* list, const std::string& path) {
    Handle writer(OpenUnshared(path, GENERIC_WRITE));
    uint32_t found = 0;
    if (writer.IsOpen()) found = ::GetFileSize(writer.Get(), nullptr);  // the low 32 bits

    char sizeLine[kSizeLineRoom];
    if (!ReadLine(list, sizeLine, kSizeLineRoom)) return false;
    int64_t expected = ParseDecimal(sizeLine);
    if (expected == int64_t(found)) return true;
    if (found != 0)
        ReportWrongSize(owner, path, found, sizeLine);
    else
        ReportUnopenable(owner, path);
    return true;
}

}  // namespace

bool RunInstallCheck(HWND owner) {
    platform::File list(kInstallListFile, "rb");
    if (!list) {
        std::string format = GetLanguageText(kInstallCheckText);
        ShowWarning(owner,
                    FormatMessageText(format.c_str(), kListMissingFallback, "s", kInstallListFile));
        return false;
    }
    // A list that ends before its "END" line simply ends the check.
    char pathLine[kPathLineRoom];
    while (ReadLine(list.get(), pathLine, kPathLineRoom)) {
        std::string path = CutPathLine(pathLine);
        if (path == kEndLine) break;
        if (!CheckEntry(owner, list.get(), path)) break;
    }
    return true;
}
