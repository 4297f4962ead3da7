#include "settings/first_run_defaults.h"

#include <string>

#include "settings/reg_key_handler.h"
#include "settings/registry_names.h"

namespace {

FirstRunDefault Text(const char* name, const char* text) { return {name, true, text, 0}; }
FirstRunDefault Number(const char* name, uint32_t number) { return {name, false, "", number}; }

}  // namespace

std::vector<FirstRunDefault> FirstRunDefaults() {
    std::vector<FirstRunDefault> values = {
        Text("AccountName", "Guest"),
        Text("AccountPassword", ""),
        Number("Music", 1),
        Number("SoundFX", 1),
        Number("GamaCorrection", 1),
        Number("SavePassword", 0),
        Number(registry_name::kProxy, 0),
        Number("Dither", 0),
        Number("OnlyBox", 0),
    };
    // The game's 12 macro bars of 12 slots, two values each.
    for (int bar = 1; bar <= 12; ++bar) {
        for (int slot = 1; slot <= 12; ++slot) {
            for (char half : {'a', 'b'}) {
                values.push_back(Number(
                    ("Macro" + std::to_string(bar) + ":" + std::to_string(slot) + half).c_str(),
                    0));
            }
        }
    }
    return values;
}

void WriteFirstRunDefaults(RegKeyHandler& handler) {
    for (const FirstRunDefault& value : FirstRunDefaults()) {
        if (value.isText) {
            handler.WriteProfileStringA(value.name.c_str(), value.text.c_str());
        } else {
            handler.WriteProfileInt(value.name.c_str(), value.number);
        }
    }
}
