#include "platform/cups/UserDefault.h"

#include "common/Exceptions.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vcups {
namespace {

QString WithoutInstance(const QString& name)
{
    return name.section(QLatin1Char('/'), 0, 0).trimmed();
}

// The start of an lpoptions file; empty for anything but a regular file.
// Opened without blocking, so a pipe put in its place cannot hold us.
QByteArray ReadOptionsFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // A settings file is small; anything larger is not one.
        text.resize(std::min<qsizetype>(info.st_size, 1 << 20));
        qsizetype filled = 0;
        while (filled < text.size()) {
            const ssize_t got = ::read(fd, text.data() + filled, static_cast<size_t>(text.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            filled += got;
        }
        text.truncate(filled);
    }
    ::close(fd);
    return text;
}

// The destination of an lpoptions file's "Default" line, as written; the
// last one wins, as lpoptions -d rewrites it.
std::optional<QString> DefaultFromOptions(const QString& path)
{
    std::optional<QString> found;
    for (const QByteArray& raw : ReadOptionsFile(path).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (!line.startsWith("Default ") && !line.startsWith("Default\t"))
            continue;
        const QByteArray rest = line.mid(8).trimmed();
        const qsizetype end = rest.indexOf(' ');
        found = QString::fromUtf8(end < 0 ? rest : rest.left(end));
    }
    return found;
}

QString OriginText(const UserDefault& chosen)
{
    if (chosen.Origin.startsWith(QLatin1Char('/')))
        return QStringLiteral("the Default line of ") + chosen.Origin;
    return chosen.Origin;
}

} // namespace

UserDefault UserDefaultDestination()
{
    const auto from = [](const QString& value, const QString& origin) {
        return UserDefault{WithoutInstance(value), value, origin};
    };
    // Set but empty still counts, as lp takes it.
    if (qEnvironmentVariableIsSet("LPDEST"))
        return from(qEnvironmentVariable("LPDEST"), QStringLiteral("LPDEST"));
    if (qEnvironmentVariableIsSet("PRINTER") && qEnvironmentVariable("PRINTER") != QLatin1String("lp"))
        return from(qEnvironmentVariable("PRINTER"), QStringLiteral("PRINTER"));
    const QString home = qEnvironmentVariable("HOME", QDir::homePath());
    const QString serverRoot = qEnvironmentVariable("CUPS_SERVERROOT", QStringLiteral("/etc/cups"));
    for (const QString& path : {home + QStringLiteral("/.cups/lpoptions"), serverRoot + QStringLiteral("/lpoptions")})
        if (const std::optional<QString> value = DefaultFromOptions(path))
            return from(*value, path);
    return {};
}

void CheckUserDefault(const UserDefault& chosen)
{
    if (chosen.Origin.isEmpty() || !chosen.Name.isEmpty())
        return;
    if (chosen.Value.trimmed().isEmpty())
        throw EPrinter(QStringLiteral("%1 is empty: it names no printer").arg(OriginText(chosen)));
    throw EPrinter(QStringLiteral("\"%1\", named by %2, is not the name of a printer")
                       .arg(Quoted(chosen.Value), OriginText(chosen)));
}

QString NotValidMessage(const QString& device)
{
    QString message = QStringLiteral("Printer selected is not valid");
    const UserDefault chosen = UserDefaultDestination();
    if (!device.isEmpty() && !chosen.Origin.isEmpty() && device.compare(chosen.Name, Qt::CaseInsensitive) == 0)
        message += QStringLiteral(": \"%1\", named by %2, is not a printer on the server")
                       .arg(Quoted(device), OriginText(chosen));
    return message;
}

} // namespace vcups
