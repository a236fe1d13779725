#include "imaging/controls.h"

#include "imaging/admin/img_admin.h"
#include "imaging/common/imaging_settings.h"
#include "imaging/edit/img_edit.h"
#include "imaging/scan/img_scan.h"

ImagingControls makeImagingControls()
{
    // Trouble with the components' settings file is told at start-up, not with the first copy
    // that happens to read it.
    imaging::ImagingSettings::check();
    ImagingControls c;
    c.scan = std::make_unique<imaging::ImgScan>();
    c.edit = std::make_unique<imaging::ImgEdit>();
    c.admin = std::make_unique<imaging::ImgAdmin>();
    return c;
}
