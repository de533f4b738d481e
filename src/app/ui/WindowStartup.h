#pragma once

#include "app/qt/Server.h"

namespace ostrel {

class TForm1;
class TForm2;
class TForm3;

// The windows' steps of start-up, as main() builds the windows: the main window hides its taskbar
// entry and says it is open; once the server listens, the hall and the till are attached to it,
// and the command menu (with its game dialog) and the work report (in its window) are built on it
// and handed to the main window.
class WindowStartup : public StartupWindow
{
public:
    // Without the game dialog no command menu is built, without the report window no work report.
    WindowStartup(Server& server, TForm1& window, TForm2* intervalDialog, TForm3* reportWindow)
        : m_server(server), m_window(window), m_intervalDialog(intervalDialog), m_reportWindow(reportWindow)
    {}

    void hideTaskbarEntry() override;
    void appendOpenToCaption() override;
    void buildCommandMenu() override;

private:
    Server& m_server;
    TForm1& m_window;
    TForm2* m_intervalDialog;
    TForm3* m_reportWindow;
};

} // namespace ostrel
