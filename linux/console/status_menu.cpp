// The entry menu of `kelvora status`: the local UPS, or a remote one with its agent's address
// and community typed in.
#include <curses.h>

#include <string>

#include "msgq.h"
#include "screen.h"
#include "screen_layout.h"
#include "status_screen.h"

namespace {

constexpr std::size_t kEditMax = 19;
constexpr std::string_view kDefaultAddress = "127.0.0.1";

enum class Mode { kMenu, kAddress, kCommunity };

struct Menu {
    int choice = 1;  // 1 local, 2 remote
    Mode mode = Mode::kMenu;
    std::string address{kDefaultAddress};
    std::string community = "gazers";
};

bool IsEnter(int key) {
    return key == 10 || key == 13;
}

layout::Pos Cursor(const Menu& m) {
    switch (m.mode) {
        case Mode::kAddress:
            return {layout::IPos.row, layout::kMenuValueCol + static_cast<int>(m.address.size())};
        case Mode::kCommunity:
            return {layout::CPos.row, layout::kMenuValueCol + static_cast<int>(m.community.size())};
        case Mode::kMenu:
            break;
    }
    return m.choice == 1 ? layout::LPos : layout::RPos;
}

void PlaceCOMMENTS(const layout::HelpText& help) {
    for (std::size_t i = 0; i < help.size(); ++i) {
        PutText(layout::HPos.row + static_cast<int>(i), layout::HPos.col, help[i]);
    }
}

void PlaceTXT(const Menu& m) {
    PutBlanks(layout::IPos.row, layout::kMenuValueCol, 20);
    PutBlanks(layout::CPos.row, layout::kMenuValueCol, 20);
    layout::Pos cursor = Cursor(m);
    if (cursor.row != layout::LPos.row) {
        PutText(layout::IPos.row, layout::kMenuValueCol, m.address);
        PutText(layout::CPos.row, layout::kMenuValueCol, m.community);
    }
    if (cursor.row == layout::LPos.row) {
        PlaceCOMMENTS(layout::HLP_LOCAL);
    } else if (cursor.row == layout::RPos.row) {
        PlaceCOMMENTS(layout::HLP_REMOTE);
    } else if (cursor.row == layout::IPos.row) {
        PlaceCOMMENTS(layout::HLP_IPADD);
    } else {
        PlaceCOMMENTS(layout::HLP_CMNTY);
    }
}

void DrawMenu(const Menu& m) {
    BasicScreen(1);
    PutText(layout::LPos.row, layout::LPos.col, layout::kLocalItem, m.choice == 1);
    PutText(layout::RPos.row, layout::RPos.col, layout::kRemoteItem, m.choice == 2);
    if (m.choice == 2) {
        PutText(layout::IPos.row, layout::IPos.col, layout::kAddressLabel);
        PutText(layout::CPos.row, layout::CPos.col, layout::kCommunityLabel);
    } else {
        PutBlanks(layout::IPos.row, layout::IPos.col, 52);
        PutBlanks(layout::CPos.row, layout::CPos.col, 52);
    }
    PlaceTXT(m);
}

// Printable, non-blank characters up to 19; backspace takes back the last one.
void EditText(std::string& text, int key) {
    if (key == 8) {
        if (!text.empty()) text.pop_back();
    } else if (key > ' ' && key < 127 && text.size() < kEditMax) {
        text.push_back(static_cast<char>(key));
    }
}

void EditIPADDRESS(Menu& m, int key) {
    if (!IsEnter(key)) {
        EditText(m.address, key);
        return;
    }
    if (m.address.empty() || m.address[0] < '0' || m.address[0] > '9') m.address = kDefaultAddress;
    m.mode = Mode::kMenu;
}

void EditCOMMUNITYNAME(Menu& m, int key) {
    if (!IsEnter(key)) {
        EditText(m.community, key);
        return;
    }
    m.mode = Mode::kMenu;
}

// Menu keys; false when the menu is done.
bool Opening_Text(Menu& m, int key) {
    if (IsEnter(key)) {
        if (m.choice == 1) {
            vornii_status_local(VorndPresent());
        } else {
            vornii_status_remote(m.address, m.community);
        }
        return false;
    }
    switch (key) {
        case 'q':
            return false;
        case 'l':
            m.choice = 1;
            break;
        case 'r':
            m.choice = 2;
            break;
        case 'i':
            if (m.choice == 2) {
                m.mode = Mode::kAddress;
                m.address.clear();  // an edit starts empty: the first key replaces the old text
            }
            break;
        case 'c':
            if (m.choice == 2) {
                m.mode = Mode::kCommunity;
                m.community.clear();
            }
            break;
        case 'e':
            wclear(stdscr);
            break;
        default:
            break;
    }
    return true;
}

}  // namespace

void vornii_status() {
    SystemText();
    InitScreen();
    Menu menu;
    for (;;) {
        DrawMenu(menu);
        layout::Pos cursor = Cursor(menu);
        wmove(stdscr, cursor.row, cursor.col);
        wrefresh(stdscr);
        int key = GetCH();
        bool go_on = true;
        switch (menu.mode) {
            case Mode::kMenu:
                go_on = Opening_Text(menu, key);
                break;
            case Mode::kAddress:
                EditIPADDRESS(menu, key);
                break;
            case Mode::kCommunity:
                EditCOMMUNITYNAME(menu, key);
                break;
        }
        if (!go_on || InputGone()) break;
    }
    EndScreen();
}
