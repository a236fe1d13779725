#pragma once

#include "dispatch/dispatch_control.h"

#include <functional>
#include <memory>

// The three imaging controls the main window hosts. The window reaches them only through
// the dispatch contract, so tests can put a recording fake in their place.
struct ImagingControls {
    std::unique_ptr<imaging::DispatchControl> scan;  // ImgScan1
    std::unique_ptr<imaging::DispatchControl> edit;  // ImgEdit1
    std::unique_ptr<imaging::DispatchControl> admin; // ImgAdmin1
};

using ImagingControlsFactory = std::function<ImagingControls()>;

// The real components of imaging/.
ImagingControls makeImagingControls();
