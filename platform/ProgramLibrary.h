#pragma once

// Parts of the program that need libraries a cut in a cutter's language does
// without (the window needs Qt Widgets, a driver's PDF page Qt Gui) live in
// libraries of their own, beside the program's other libraries, and are
// loaded the first time they are needed: a command-line cut to a raw queue
// starts without them.

// The address of the C function `function` in the program's library
// `library` (a file name). The library stays loaded. Throws EFileError when
// either cannot be found.
void* ProgramLibraryAddress(const char* library, const char* function);

template <class Function>
Function* ProgramFunction(const char* library, const char* function)
{
    return reinterpret_cast<Function*>(ProgramLibraryAddress(library, function));
}
