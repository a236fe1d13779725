#include "copy_run/imaging_controls.h"

#include "imaging/img_admin.h"
#include "imaging/img_edit.h"
#include "imaging/img_scan.h"

ImagingControls makeImagingControls()
{
    ImagingControls c;
    c.scan = std::make_unique<imaging::ImgScan>();
    c.edit = std::make_unique<imaging::ImgEdit>();
    c.admin = std::make_unique<imaging::ImgAdmin>();
    return c;
}
