#pragma once

#include <QString>

#include <cstdint>

// The program-wide values. They are set by the main window's start-up and live as long as
// the program.
namespace Module1 {

// The full path of the temporary page file.
extern QString PageFilePath;
// 0 false, -1 true: a copy has reached its print step in this run. Never set back.
extern std::int16_t FirstCopyDone;

// The window's sizes at start-up, in twips; resizing never goes below them.
extern float DesignWidth;
extern float DesignHeight;
extern float DesignFrameWidth;
extern float DesignFrameHeight;
extern float DesignButtonFrameLeft;

} // namespace Module1
