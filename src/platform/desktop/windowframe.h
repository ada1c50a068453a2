#pragma once

class QWidget;

// What the window manager draws around a window, where there is one to ask.

// Asks for a border without a title bar, which the window cannot be resized by. Qt's own
// window flags give either a title or no border at all.
void askForBorderWithoutTitle(QWidget& window);

// Whether the window manager draws a border around the shown window. False where none
// does, or where that cannot be told.
bool windowManagerDrawsBorder(const QWidget& window);
