#pragma once
// Where the program's dialogs appear: centred on the screen that holds them.

class QWidget;

// Moves the window so that its frame is centred on its screen's free area.
void CentreOnScreen(QWidget* window);
