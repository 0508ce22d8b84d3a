#include "platform/ProgramLibrary.h"

#include "common/Exceptions.h"

#include <QByteArray>
#include <QString>

#include <dlfcn.h>

namespace {

// The folder this library was loaded from, ending in '/': the program's
// libraries sit together, in the build and where it is installed.
QByteArray ProgramLibraryFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ProgramLibraryAddress), &info) == 0 || !info.dli_fname)
        return {};
    const QByteArray self(info.dli_fname);
    return self.left(self.lastIndexOf('/') + 1);
}

} // namespace

void* ProgramLibraryAddress(const char* library, const char* function)
{
    const QByteArray path = ProgramLibraryFolder() + library;
    // A library already loaded (linked, or loaded before) is found again.
    void* handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    void* address = handle ? ::dlsym(handle, function) : nullptr;
    if (!address) {
        const char* why = ::dlerror();
        throw EFileError(QStringLiteral("The program's file \"%1\" cannot be loaded: %2")
                             .arg(QString::fromLocal8Bit(path), why ? TrimSystemText(QString::fromLocal8Bit(why))
                                                                    : QStringLiteral("it lacks a part")));
    }
    return address;
}
