#include "platform/PlotFile.h"

#include "common/Exceptions.h"
#include "platform/NativeFileName.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemErrorText(int error)
{
    return TrimSystemText(QString::fromLocal8Bit(std::strerror(error)));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

private:
    int FFd;
};

} // namespace

QString PlotFileFullPath(const QString& FileName)
{
    return QFileInfo(FileName).absoluteFilePath();
}

QByteArray LoadPlotFile(const QString& FileName, const QString& FullPath)
{
    const auto cannotOpen = [&](const QString& reason) {
        return EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(FullPath, reason));
    };

    const QByteArray native = NativeFileName(FileName);
    int fd;
    do {
        // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw cannotOpen(SystemErrorText(errno));
    const FileDescriptor file(fd);

    // Pipes, devices and directories could block forever or never end.
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw cannotOpen(SystemErrorText(errno));
    if (S_ISDIR(info.st_mode))
        throw cannotOpen(QStringLiteral("It is a directory, not a file"));
    if (!S_ISREG(info.st_mode))
        throw cannotOpen(QStringLiteral("It is not a regular file (a device, pipe or socket)"));

    const auto tooLarge = [&] {
        return EFileError(QStringLiteral("The file \"%1\" is too large to be a plot file (the limit is %2 MiB)")
                              .arg(FullPath, QString::number(MaxPlotFileSize / (1024 * 1024))));
    };
    if (info.st_size > MaxPlotFileSize)
        throw tooLarge();

    try {
        // Room for one byte more than announced, so that reaching end of file
        // normally takes a single read; the file may still change under us.
        QByteArray content;
        content.resize(static_cast<qsizetype>(info.st_size) + 1);
        qsizetype filled = 0;
        for (;;) {
            if (filled == content.size()) {
                if (filled > MaxPlotFileSize)
                    throw tooLarge();
                content.resize(std::min<qsizetype>(filled * 2 + 4096, MaxPlotFileSize + 1));
            }
            const ssize_t got = ::read(fd, content.data() + filled, static_cast<std::size_t>(content.size() - filled));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw EFileError(QStringLiteral("Cannot read file \"%1\". %2").arg(FullPath, SystemErrorText(errno)));
            }
            if (got == 0)
                break;
            filled += got;
        }
        content.truncate(filled);
        return content;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(QStringLiteral("Out of memory while reading the file \"%1\"").arg(FullPath));
    }
}

QStringList ReadPlotFile(TPLT& Store, const QString& FileName, std::span<const int> Pens, const HpglSheet& Sheet)
{
    const QString fullPath = PlotFileFullPath(FileName);
    const QByteArray content = LoadPlotFile(FileName, fullPath);
    QStringList notices;
    // The sample's layout ends at a NUL; text after one goes to the HP-GL
    // reader, which refuses it there rather than drop the rest.
    if (InSampleLayout(content, fullPath) && !TextGoesOnAfterNul(content)) {
        ReadPlotData(Store, content, fullPath);
        if (!Pens.empty() && std::ranges::find(Pens, 1) == Pens.end())
            Store.Reset();
    } else {
        notices = ReadHpglData(Store, content, fullPath, Pens, Sheet);
    }
    // Pens that match nothing are the user's mistake, not a blank job.
    if (!Pens.empty() && Store.NPolygons() == 0)
        throw EFileError(NothingToCutMessage(FileName, Pens));
    return notices;
}

QString NothingToCutMessage(const QString& FileName, std::span<const int> Pens)
{
    const QString start = QStringLiteral("The plot file \"%1\" has nothing to cut").arg(PlotFileFullPath(FileName));
    if (Pens.empty())
        return start + QStringLiteral(": it draws no line, circle or arc with the pen down");
    // A long list is named by its first few: the message stays a sentence.
    constexpr std::size_t Named = 8;
    if (Pens.size() > Named)
        return start
               + QStringLiteral(" with pens %1 and %2 more").arg(PensText(Pens.first(Named))).arg(Pens.size() - Named);
    return start
           + (Pens.size() == 1 ? QStringLiteral(" with pen %1") : QStringLiteral(" with pens %1")).arg(PensText(Pens));
}
