// A SANE backend that never finishes its end, and gets stuck where backends have been seen
// to: inside the dynamic loader, holding its lock (its destructor runs when SANE's dll
// backend unloads it in sane_exit). The program must end all the same. Loaded by SANE's dll
// backend through LD_LIBRARY_PATH; it has no devices.
#include <sane/sane.h>

#include <unistd.h>

namespace {
struct StuckOnUnload {
    ~StuckOnUnload()
    {
        for (;;)
            pause();
    }
} stuck;
} // namespace

extern "C" {

SANE_Status sane_hang_init(SANE_Int* version, SANE_Auth_Callback)
{
    if (version)
        *version = SANE_VERSION_CODE(1, 0, 0);
    return SANE_STATUS_GOOD;
}

void sane_hang_exit(void) {}

SANE_Status sane_hang_get_devices(const SANE_Device*** list, SANE_Bool)
{
    static const SANE_Device* none[] = {nullptr};
    *list = none;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_hang_open(SANE_String_Const, SANE_Handle*) { return SANE_STATUS_INVAL; }

} // extern "C"
