#pragma once

class QWidget;

// Paints a window now, before the caller goes on with something that blocks. A window
// just shown is painted only once the window system has exposed it, so this waits a
// little for that, letting paint and expose events through but no user input.
void Refresh(QWidget& window);
