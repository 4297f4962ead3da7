#include "ui/dialogs/wnd_dialog.h"

#include <stdexcept>

namespace {
constexpr const char* kNoTemplateText =
    "Error in WndDialog: No Template was provide for the creation of the Dialog Box. Ok will "
    "continue the execution of the program, Cancel will throw an exception.";

Wnd* MakeHiddenOwner() {
    // Never released: the owner lives as long as the framework's registry.
    auto* desc = new WndDesc();
    desc->title = "Undefined";
    auto* window = new Wnd();
    window->Create(desc, nullptr);
    return window;
}
}  // namespace

WndDialog::WndDialog(uint16_t templateId, Wnd* owner) : owner_(owner) {
    if (!owner_) owner_ = MakeHiddenOwner();
    if (templateId == 0) {
        int answer =
            ::MessageBoxA(owner_->Handle(), kNoTemplateText, "Error in WndDialog.", MB_OKCANCEL);
        if (answer == IDCANCEL) throw std::invalid_argument("WndDialog: no dialog template");
    }
    templateId_ = templateId;
    index_ = DialogRegistry::Instance().AddDialog();
}

void WndDialog::AddCommand(uint32_t commandId, CommandHandler handler) {
    DialogRegistry::Instance().AddCommand(index_, commandId, handler);
}

INT_PTR WndDialog::Run(DLGPROC procedure) {
    DialogRegistry& registry = DialogRegistry::Instance();
    registry.BeginOpening(index_);
    HINSTANCE module = owner_ && owner_->Desc() ? owner_->Desc()->instance : nullptr;
    if (!module) module = ::GetModuleHandleA(nullptr);
    INT_PTR result = ::DialogBoxParamA(module, MAKEINTRESOURCEA(templateId_),
                                       owner_ ? owner_->Handle() : nullptr, procedure, 0);
    registry.FinishOpening(index_);
    return result;
}

void WndDialog::End(int32_t result) { DialogRegistry::Instance().RequestEnd(index_, result); }

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            INT_PTR pending = 0;
            if (DialogRegistry::Instance().BoxInitialised(window, &pending))
                ::EndDialog(window, pending);
            return 0;  // no default focus
        }
        case WM_COMMAND: {
            bool handled = false;
            for (CommandHandler handler : DialogRegistry::Instance().HandlersFor(wParam)) {
                handler();
                handled = true;
            }
            return handled ? 1 : 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT paint;
            ::BeginPaint(window, &paint);
            ::EndPaint(window, &paint);
            return 1;
        }
        case WM_CLOSE:
            ::EndDialog(window, 1);
            return 1;
        case kEndDialogMessage:
            ::EndDialog(window, static_cast<INT_PTR>(wParam));
            return 1;
        default:
            return 0;
    }
}
