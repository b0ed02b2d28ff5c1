#pragma once

#include <Qt>

class QWidget;

// A main window's placement in the configuration file, in the section named
// after the window: its normal rectangle ("Top", "Left", "Height", "Width") and whether it
// was "Maximized" or "Minimized".

// Places Window as stored. A damaged size keeps the window's own; a position
// on a screen that is gone is not taken, so the window stays within reach.
void ReadWindowPlacement(QWidget& window);

// Stores Window's normal rectangle, also while it is maximised or minimised,
// with State.
void SaveWindowPlacement(const QWidget& window, Qt::WindowStates state);
