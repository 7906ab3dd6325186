#pragma once
// Start-up of the desktop program: the windows, each created once, and the
// event loop that runs until the main window closes.

#include <QStringList>

#include <memory>

class TApplication;
class TMainForm;

// Creates the main window and then each dialog once, in this order: the about
// box, the input window, the progress window, the info message window. The
// dialogs belong to the main window and are reached through their global
// references (AboutBox, InputForm, AnimatedForm, MessageForm).
std::unique_ptr<TMainForm> CreateApplicationWindows(const QStringList& arguments);

// The whole run: the application's title and help file, the question
// interface, the windows, the event loop until the main window closes. An
// exception that escapes is shown in the standard exception box; the result
// is then 0 as well.
int RunCarryvale(TApplication& app);
