// What the server selection dialog shows and does, without its window: the
// dialog procedure (dialogs/server_dialog.cpp) puts the view into the
// controls and reports the player's actions here.
//
// The state outlives a showing: the next showing starts from the choice
// (run::gameServerAddress, run::proxyEnabled), the description buffer (the
// initial description at first, startupTexts), the shown description and the
// link target the last one left.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int kShownDescriptionSize = 500;  // descriptions: 499 characters
constexpr int kLinkTargetSize = 100;        // link targets: 99 characters

struct ServerDialogView {
    std::string comboText;            // the combo box's edit part
    std::vector<std::string> listed;  // the combo box's list, in display order
    bool comboEnabled = true;
    bool connectEnabled = true;
    bool proxyChecked = false;
    bool proxyFieldEnabled = false;
    std::string description;  // static text 1006
    std::string linkCaption;  // the link button 1008
};

class ServerDialogModel {
public:
    // A showing opens. `listCount` is LoadServerList's result (-1: no list);
    // `seed` (the time in whole seconds) orders the listed servers. With no
    // choice yet, the first server drawn becomes it.
    void Open(int listCount, uint32_t seed);
    // The combo box's text after any change (and once right after opening).
    // True when the dialog must repaint now (the description changed).
    bool ComboChanged(std::string_view text);
    void ProxyClicked();
    // Keeps the choice and the proxy address (99 characters each). False,
    // keeping nothing, while Connect is disabled.
    bool Connect(std::string_view comboText, std::string_view proxyText);

    const ServerDialogView& View() const { return view_; }
    // What the link button opens.
    const char* LinkTarget() const { return linkTarget_; }

private:
    void FillList(int count, uint32_t seed);

    ServerDialogView view_;
    char linkTarget_[kLinkTargetSize] = {};
    char shownDescription_[kShownDescriptionSize] = {};
};

namespace run {

// The one dialog's state.
extern ServerDialogModel serverDialogModel;

}  // namespace run
