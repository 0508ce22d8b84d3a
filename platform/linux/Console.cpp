#include "platform/Console.h"

#include <unistd.h>

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void WriteStandardError(std::string_view text)
{
    // A progress line that cannot be shown is no failure of the cut.
    (void)!::write(STDERR_FILENO, text.data(), text.size());
}
