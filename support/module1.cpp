#include "support/module1.h"

namespace Module1 {

QString PageFilePath;
std::int16_t FirstCopyDone = 0;
float DesignWidth = 0;
float DesignHeight = 0;
float DesignFrameWidth = 0;
float DesignFrameHeight = 0;
float DesignButtonFrameLeft = 0;

} // namespace Module1
