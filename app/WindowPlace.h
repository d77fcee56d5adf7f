#pragma once
// Where a window of the main window's opens the first time it is shown:
// centred on the main window's screen and no larger than its free area.
class QWidget;

void placeOnOwnersScreen(QWidget& window);
