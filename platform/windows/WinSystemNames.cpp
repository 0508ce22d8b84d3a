#include "platform/SystemNames.h"

const SystemNames& TheSystemNames()
{
    static const SystemNames names{
        "a COM port (COM1, COM3, \\\\.\\COM12); any other device or file is refused",
        "COM1",
        "NUL discards the job; a folder or another device (COM1, LPT1, \\\\.\\...) is refused",
    };
    return names;
}
