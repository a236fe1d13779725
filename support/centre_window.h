#pragma once

class QWidget;

// Moves a top-level window to the middle of its screen, frame included as far as the window
// system has told it yet.
void centreOnScreen(QWidget* window);
