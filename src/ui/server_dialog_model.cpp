#include "ui/server_dialog_model.h"

#include <cstring>

#include "packet/random_generator.h"
#include "run/server_choice.h"
#include "text/language_file.h"
#include "text/server_table.h"
#include "text/startup_texts.h"
#include "text/text_numbers.h"

ServerDialogModel run::serverDialogModel;

namespace {

char* DescriptionBuffer() { return run::startupTexts[kServerDescriptionText]; }

// Copies at most size - 1 characters and the terminator.
void CopyCut(char* destination, std::string_view source, size_t size) {
    size_t n = source.size() < size - 1 ? source.size() : size - 1;
    std::memcpy(destination, source.data(), n);
    destination[n] = '\0';
}

}  // namespace

void ServerDialogModel::Open(int listCount, uint32_t seed) {
    view_ = ServerDialogView();
    view_.comboEnabled = run::serverChoiceLocked == 0;
    view_.linkCaption = run::startupTexts[kLinkCaptionText];
    view_.description = DescriptionBuffer();
    view_.comboText = run::gameServerAddress;
    if (listCount < 0) {
        view_.connectEnabled = run::gameServerAddress[0] != '\0';
    } else {
        FillList(listCount, seed);
    }
    CopyCut(linkTarget_, run::startupTexts[kLinkTargetText], kLinkTargetSize);
    view_.proxyChecked = view_.proxyFieldEnabled = run::proxyEnabled != 0;
}

// Every listed server once, in random order.
void ServerDialogModel::FillList(int count, uint32_t seed) {
    RandomGenerator generator(0, static_cast<uint32_t>(count) - 1, seed);
    bool used[kServerSlots] = {};
    for (int drawn = 0; drawn < count && drawn < kServerSlots; ++drawn) {
        uint32_t slot;
        do {
            slot = generator.Next();
        } while (slot >= kServerSlots || used[slot]);
        used[slot] = true;
        const char* name = run::serverTable.slots[slot].name;
        if (run::gameServerAddress[0] == '\0') {
            CopyCut(run::gameServerAddress, name, run::kAddressSize);
            view_.comboText = run::gameServerAddress;
        }
        view_.listed.emplace_back(name);
    }
}

bool ServerDialogModel::ComboChanged(std::string_view text) {
    view_.comboText = std::string(text.substr(0, run::kAddressSize - 1));
    CopyCut(DescriptionBuffer(), GetLanguageText(text_number::kServerDescription),
            kShownDescriptionSize);
    view_.connectEnabled = !view_.comboText.empty();
    // A typed address that names no listed server keeps what is shown.
    const ServerRecord* record =
        view_.comboText.empty() ? nullptr : FindServerRecord(view_.comboText.c_str());
    if (record) {
        CopyCut(DescriptionBuffer(), record->description, kShownDescriptionSize);
        view_.description = DescriptionBuffer();
        CopyCut(linkTarget_, record->linkTarget, kLinkTargetSize);
        view_.linkCaption = record->linkCaption;
    }
    if (std::strcmp(DescriptionBuffer(), shownDescription_) == 0) return false;
    CopyCut(shownDescription_, DescriptionBuffer(), kShownDescriptionSize);
    return true;
}

void ServerDialogModel::ProxyClicked() {
    run::proxyEnabled = run::proxyEnabled == 0 ? 1 : 0;
    view_.proxyChecked = view_.proxyFieldEnabled = run::proxyEnabled != 0;
}

bool ServerDialogModel::Connect(std::string_view comboText, std::string_view proxyText) {
    if (!view_.connectEnabled) return false;
    CopyCut(run::gameServerAddress, comboText, run::kAddressSize);
    CopyCut(run::proxyAddress, proxyText, run::kAddressSize);
    return true;
}
