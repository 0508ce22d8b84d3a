#include "platform/cups/UserDefault.h"

#include <QDir>
#include <QFile>

namespace vcups {
namespace {

QString WithoutInstance(const QString& name)
{
    return name.section(QLatin1Char('/'), 0, 0).trimmed();
}

// The destination of an lpoptions file's "Default" line; the last one wins,
// as lpoptions -d rewrites it.
QString DefaultFromOptions(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString found;
    // A settings file is small; anything larger is not one.
    const QByteArray text = file.read(1 << 20);
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (!line.startsWith("Default ") && !line.startsWith("Default\t"))
            continue;
        const QByteArray rest = line.mid(8).trimmed();
        const qsizetype end = rest.indexOf(' ');
        found = WithoutInstance(QString::fromUtf8(end < 0 ? rest : rest.left(end)));
    }
    return found;
}

} // namespace

QString UserDefaultDestination()
{
    if (const QString lpdest = qEnvironmentVariable("LPDEST"); !lpdest.isEmpty())
        return WithoutInstance(lpdest);
    if (const QString printer = qEnvironmentVariable("PRINTER"); !printer.isEmpty() && printer != QLatin1String("lp"))
        return WithoutInstance(printer);
    const QString home = qEnvironmentVariable("HOME", QDir::homePath());
    if (const QString user = DefaultFromOptions(home + QStringLiteral("/.cups/lpoptions")); !user.isEmpty())
        return user;
    const QString serverRoot = qEnvironmentVariable("CUPS_SERVERROOT", QStringLiteral("/etc/cups"));
    return DefaultFromOptions(serverRoot + QStringLiteral("/lpoptions"));
}

} // namespace vcups
