#include "ui/dialogs/wnd_class.h"

#include <atomic>

#include "platform/process_end.h"
#include "ui/dialogs/wnd.h"

namespace {
// Two dialog threads may create classes at the same time.
std::atomic<uint32_t> classSerial{0};

WNDCLASSEXA DefaultDescription() {
    WNDCLASSEXA d{};
    d.cbSize = sizeof(WNDCLASSEXA);
    d.style = CS_VREDRAW;
    d.lpfnWndProc = WndProc;
    d.hIcon = ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512));      // IDI_APPLICATION
    d.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    d.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    d.lpszClassName = "Default Class";  // always replaced by the object's own name
    return d;
}
}  // namespace

WndClass::WndClass() : name_("Window Class " + std::to_string(classSerial.fetch_add(1))) {}

uint32_t WndClass::Serial() { return classSerial.load(); }

void WndClass::Register(const WNDCLASSEXA* given) {
    // The registered copy lives until the process ends, like the class.
    description_ = new WNDCLASSEXA(given ? *given : DefaultDescription());
    description_->cbSize = sizeof(WNDCLASSEXA);
    // The framework creates its windows by this object's name, so the
    // registration always uses it.
    description_->lpszClassName = name_.c_str();
    if (::RegisterClassExA(description_) == 0) platform::Terminate(ExitCode::kNormalEnd);
}
