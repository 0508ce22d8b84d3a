#pragma once

// The program's own text is UTF-8 in std::string; the tests compare and show
// it as Qt's, converting where they call it.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

#include <string>
#include <string_view>
#include <vector>

inline QString QStr(const std::string& text)
{
    return QString::fromStdString(text);
}

inline std::string StdStr(const QString& text)
{
    return text.toStdString();
}

inline QStringList QStrings(const std::vector<std::string>& texts)
{
    QStringList list;
    for (const std::string& text : texts)
        list << QStr(text);
    return list;
}

inline std::vector<std::string> StdStrings(const QStringList& texts)
{
    std::vector<std::string> list;
    for (const QString& text : texts)
        list.push_back(StdStr(text));
    return list;
}

// A file name as the file system's bytes, and back.
inline std::string FileBytes(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

inline QString FileName(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

// Bytes in memory as the program reads them, not copied.
inline std::string_view Bytes(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

namespace QTest {
// QCOMPARE of two std::string shows them as text.
template <>
inline char* toString(const std::string& text)
{
    return qstrdup(text.c_str());
}

// The program's text against the text a test expects, compared as Qt's.
inline bool qCompare(const std::string& t1, const QString& t2, const char* actual, const char* expected,
                     const char* file, int line)
{
    return qCompare(QString::fromStdString(t1), t2, actual, expected, file, line);
}

inline bool qCompare(const QString& t1, const std::string& t2, const char* actual, const char* expected,
                     const char* file, int line)
{
    return qCompare(t1, QString::fromStdString(t2), actual, expected, file, line);
}

inline bool qCompare(const std::vector<std::string>& t1, const QStringList& t2, const char* actual,
                     const char* expected, const char* file, int line)
{
    return qCompare(QStrings(t1), t2, actual, expected, file, line);
}
} // namespace QTest
