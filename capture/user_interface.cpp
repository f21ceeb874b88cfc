#include "capture/user_interface.h"

#include <string>

namespace capture {

namespace {
UserInterface* g_ui = nullptr;
}

void setUserInterface(UserInterface* ui) {
    g_ui = ui;
}

UserInterface* userInterface() {
    return g_ui;
}

void OutputInfo(std::string_view text) {
    if (!g_ui)
        return;
    std::string line(text);
    line += "\r\n";
    g_ui->appendInfo(line);
    g_ui->scrollDisplay();
}

} // namespace capture
