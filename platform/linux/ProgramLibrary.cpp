#include "platform/ProgramLibrary.h"

#include "common/Exceptions.h"

#include <string>

#include <dlfcn.h>

namespace {

// The folder this library was loaded from, ending in '/': the program's
// libraries sit together, in the build and where it is installed.
std::string ProgramLibraryFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ProgramLibraryAddress), &info) == 0 || !info.dli_fname)
        return {};
    const std::string self(info.dli_fname);
    const std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

} // namespace

void* ProgramLibraryAddress(const char* library, const char* function)
{
    const std::string path = ProgramLibraryFolder() + library;
    // A library already loaded (linked, or loaded before) is found again.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* address = handle ? ::dlsym(handle, function) : nullptr;
    if (!address) {
        const char* why = ::dlerror();
        throw EFileError(Format("The program's file \"%1\" cannot be loaded: %2", path,
                                why ? TrimSystemText(why) : std::string("it lacks a part")));
    }
    return address;
}
