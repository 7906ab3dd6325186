#pragma once
// Start-up of the desktop program: the windows, each created once, and the
// event loop that runs until the main window closes.

#include <QStringList>

#include <memory>

class TApplication;
class TMainForm;

// Creates the main window and then each dialog once, in this order: the about
// box, the replace window (with its rename window), the input window, the
// progress window, the info message window. The dialogs belong to the main
// window and are reached through their global references (AboutBox,
// ReplaceForm, InputForm, AnimatedForm, MessageForm).
std::unique_ptr<TMainForm> CreateApplicationWindows(const QStringList& arguments);

// The whole run: the application's title and help file, the question
// interface, the windows, the event loop until the main window closes. The
// result is 0, or the result code of a load or unload asked for on the
// command line that failed. An exception that escapes is shown in the
// standard exception box; the result is then 0.
int RunCarryvale(TApplication& app);
