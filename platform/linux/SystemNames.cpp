#include "platform/SystemNames.h"

const SystemNames& TheSystemNames()
{
    static const SystemNames names{
        "a serial line (/dev/ttyUSB0, /dev/ttyACM0, /dev/ttyS0) or a printer port (/dev/usb/lp0, /dev/lp0); any "
        "other file is refused",
        "/dev/ttyUSB0",
        "a pipe or a device such as /dev/null is written as it is; a folder, a disk or a socket is refused",
    };
    return names;
}
