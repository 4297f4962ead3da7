// The dialog templates as compiled into the program: every control of the
// server selection dialog and of the two progress dialogs with its kind,
// id, text, style and place.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/dialog_123_ids.h"
#include "resources/dialog_124_ids.h"
#include "resources/dialog_127_ids.h"

namespace {

struct Item {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    std::string cls;   // "Button", "Edit", "Static", "ComboBox", or a name
    std::string text;  // "#129" for an ordinal
};

struct Template {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string title, font;
    int pointSize = 0;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* start) : base(start), p(start) {}
    WORD Word() {
        WORD v;
        std::memcpy(&v, p, 2);
        p += 2;
        return v;
    }
    DWORD Dword() {
        DWORD v;
        std::memcpy(&v, p, 4);
        p += 4;
        return v;
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *p++; }
    void AlignDword() { p = base + ((p - base + 3) & ~3); }
    std::string Text() {
        std::string out;
        for (WORD c; (c = Word()) != 0;) out += static_cast<char>(c);
        return out;
    }
    // A name or an ordinal (0xFFFF then the number); "" for none.
    std::string NameOrOrdinal() {
        WORD first;
        std::memcpy(&first, p, 2);
        if (first == 0) {
            p += 2;
            return "";
        }
        if (first == 0xFFFF) {
            p += 2;
            return "#" + std::to_string(Word());
        }
        return Text();
    }
    void Skip(size_t n) { p += n; }

private:
    const BYTE* base;
    const BYTE* p;
};

// The predefined classes may be stored as ordinals or as names in any case.
std::string ClassName(const std::string& raw) {
    static const char* const kKnown[][2] = {
        {"#128", "Button"}, {"#129", "Edit"}, {"#130", "Static"}, {"#133", "ComboBox"}};
    for (const auto& known : kKnown) {
        if (raw == known[0] || ::lstrcmpiA(raw.c_str(), known[1]) == 0) return known[1];
    }
    return raw;
}

Template Load(uint16_t id) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
    EXPECT_NE(found, nullptr) << "template " << id;
    Template t;
    if (!found) return t;
    Reader r(static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))));
    bool extended = false;
    {
        Reader peek = r;
        extended = peek.Word() == 1 && peek.Word() == 0xFFFF;
    }
    WORD count;
    if (extended) {
        r.Word();
        r.Word();
        r.Dword();
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = r.Dword();
        t.exStyle = r.Dword();
    }
    count = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    r.NameOrOrdinal();  // menu
    r.NameOrOrdinal();  // class
    t.title = r.Text();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        if (extended) {
            r.Word();
            r.Byte();
            r.Byte();
        }
        t.font = r.Text();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        Item item;
        if (extended) {
            r.Dword();
            item.exStyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exStyle = r.Dword();
        }
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = extended ? static_cast<int32_t>(r.Dword()) : static_cast<int16_t>(r.Word());
        item.cls = ClassName(r.NameOrOrdinal());
        item.text = r.NameOrOrdinal();
        r.Skip(r.Word());
        t.items.push_back(item);
    }
    return t;
}

void ExpectItem(const Item& item, int32_t id, const char* cls, const char* text, DWORD style,
                short x, short y, short cx, short cy, DWORD exStyle = 0) {
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(item.cls, cls);
    EXPECT_EQ(item.text, text);
    EXPECT_EQ(item.style, style | WS_CHILD) << std::hex << item.style;
    EXPECT_EQ(item.exStyle, exStyle);
    EXPECT_EQ(item.x, x);
    EXPECT_EQ(item.y, y);
    EXPECT_EQ(item.cx, cx);
    EXPECT_EQ(item.cy, cy);
}

TEST(DialogTemplatesTest, ServerSelectionDialogHasEveryControlInItsPlace) {
    Template t = Load(IDD_SERVER_DIALOG);
    EXPECT_EQ(t.title, "Mirelands");
    EXPECT_EQ(t.font, "System");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.style, DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(t.cx, 249);
    EXPECT_EQ(t.cy, 171);
    ASSERT_EQ(t.items.size(), 11u);
    const DWORD visibleTab = WS_VISIBLE | WS_TABSTOP;
    const DWORD label = SS_LEFT | WS_VISIBLE | WS_GROUP;
    ExpectItem(t.items[0], 1, "Button", "Connect", BS_DEFPUSHBUTTON | visibleTab, 73, 154, 43, 11);
    ExpectItem(t.items[1], 2, "Button", "Cancel", BS_PUSHBUTTON | visibleTab, 199, 154, 46, 11,
               WS_EX_TRANSPARENT);
    ExpectItem(t.items[2], 1010, "Static", "Static", label, 73, 9, 41, 8);
    ExpectItem(t.items[3], -1, "Static", "#129", SS_BITMAP | WS_VISIBLE, 1, 1, 72, 175);
    ExpectItem(t.items[4], 1009, "ComboBox", "", CBS_DROPDOWN | WS_VSCROLL | visibleTab, 114, 5,
               131, 126);
    ExpectItem(t.items[5], 1008, "Button", "Button1", BS_PUSHBUTTON | visibleTab, 73, 141, 172, 11);
    ExpectItem(t.items[6], 1011, "Static", "Static", label, 73, 54, 172, 26);
    ExpectItem(t.items[7], 1006, "Static", "Static", label, 73, 84, 172, 51);
    ExpectItem(t.items[8], 1013, "Button", "I'm behind a Proxy", BS_AUTOCHECKBOX | visibleTab, 73,
               37, 122, 8);
    ExpectItem(t.items[9], 1012, "Static", "Patch Server", label, 73, 23, 41, 8);
    ExpectItem(t.items[10], 1014, "Edit", "",
               ES_LEFT | ES_AUTOHSCROLL | WS_DISABLED | WS_BORDER | visibleTab, 114, 19, 131, 12);
}

TEST(DialogTemplatesTest, ProgressDialogsCarryTheirOwnTexts) {
    const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    Template searching = Load(IDD_SEARCHING_DIALOG);
    EXPECT_EQ(searching.title, "Mirelands Auto Patch");
    EXPECT_EQ(searching.font, "MS Sans Serif");
    EXPECT_EQ(searching.pointSize, 8);
    EXPECT_EQ(searching.style, frame);
    EXPECT_EQ(searching.cx, 186);
    EXPECT_EQ(searching.cy, 62);
    ASSERT_EQ(searching.items.size(), 2u);
    ExpectItem(searching.items[0], 2, "Button", "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE,
               65, 41, 50, 14);
    ExpectItem(searching.items[1], -1, "Static", "Now looking for a patch server. Please wait....",
               SS_LEFT | WS_GROUP | WS_VISIBLE, 7, 7, 172, 28);

    Template patching = Load(IDD_PATCHING_DIALOG);
    EXPECT_EQ(patching.title, "Mirelands Auto Patch");
    EXPECT_EQ(patching.style, frame);
    EXPECT_EQ(patching.cx, 186);
    EXPECT_EQ(patching.cy, 58);
    ASSERT_EQ(patching.items.size(), 2u);
    ExpectItem(patching.items[0], 2, "Button", "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE,
               63, 37, 50, 14);
    ExpectItem(patching.items[1], -1, "Static",
               "Currently patching. This will take only a short moment. Please Wait...",
               SS_LEFT | WS_GROUP | WS_VISIBLE, 7, 7, 172, 26);
}

TEST(DialogTemplatesTest, PictureIs144By350With256Colours) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(IDB_SERVER_PICTURE),
                                  MAKEINTRESOURCEA(2));  // RT_BITMAP
    ASSERT_NE(found, nullptr);
    const auto* info =
        static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(module, found)));
    EXPECT_EQ(info->biWidth, 144);
    EXPECT_EQ(info->biHeight, 350);
    EXPECT_EQ(info->biBitCount, 8);
    EXPECT_EQ(info->biCompression, DWORD(BI_RGB));
}

}  // namespace
