#include "tests/support/PdfStrokes.h"

#include <QFile>
#include <QRegularExpression>
#include <QTransform>

#include <zlib.h>

namespace {

QByteArray Inflate(const QByteArray& data)
{
    QByteArray out;
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    char buf[65536];
    int rc;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buf, static_cast<qsizetype>(sizeof buf - z.avail_out));
    } while (rc == Z_OK);
    inflateEnd(&z);
    return out;
}

// The body of object "n 0 obj".
QByteArray Object(const QByteArray& pdf, int n)
{
    const QRegularExpression re(QStringLiteral("(?:^|\\s)%1 0 obj\\b").arg(n));
    const auto m = re.match(QString::fromLatin1(pdf));
    if (!m.hasMatch())
        return {};
    const qsizetype start = m.capturedEnd();
    const qsizetype end = pdf.indexOf("endobj", start);
    return pdf.mid(start, end - start);
}

QByteArray StreamOf(const QByteArray& pdf, const QByteArray& obj)
{
    qsizetype s = obj.indexOf("stream");
    if (s < 0)
        return {};
    s += 6;
    if (obj.at(s) == '\r')
        ++s;
    if (obj.at(s) == '\n')
        ++s;
    qsizetype e = obj.lastIndexOf("endstream");
    QByteArray data = obj.mid(s, e - s);
    Q_UNUSED(pdf);
    if (obj.left(s).contains("/FlateDecode"))
        return Inflate(data);
    return data;
}

void Interpret(const QByteArray& content, PdfPage& page)
{
    QTransform ctm;
    QVector<QTransform> stack;
    QVector<double> nums;
    QVector<QVector<QPointF>> path;
    double width = 1;
    const QList<QByteArray> tokens = content.simplified().split(' ');
    bool inArray = false;
    for (const QByteArray& raw : tokens) {
        QByteArray t = raw;
        if (t.startsWith('[')) {
            inArray = true;
            t = t.mid(1);
        }
        if (inArray) {
            if (t.contains(']'))
                inArray = false;
            continue;
        }
        if (t.isEmpty())
            continue;
        bool ok = false;
        const double v = t.toDouble(&ok);
        if (ok) {
            nums.push_back(v);
            continue;
        }
        if (t.startsWith('/')) {
            nums.clear();
            continue;
        }
        if (t == "q") {
            stack.push_back(ctm);
        } else if (t == "Q") {
            if (!stack.isEmpty())
                ctm = stack.takeLast();
        } else if (t == "cm" && nums.size() >= 6) {
            const auto n = nums.mid(nums.size() - 6);
            ctm = QTransform(n[0], n[1], n[2], n[3], n[4], n[5]) * ctm;
        } else if (t == "w" && !nums.isEmpty()) {
            width = nums.last();
        } else if (t == "m" && nums.size() >= 2) {
            path.push_back({ctm.map(QPointF(nums[nums.size() - 2], nums.last()))});
        } else if (t == "l" && nums.size() >= 2 && !path.isEmpty()) {
            path.last().push_back(ctm.map(QPointF(nums[nums.size() - 2], nums.last())));
        } else if (t == "S" || t == "s") {
            for (auto& sub : path) {
                page.Strokes.push_back(sub);
                page.LineWidths.push_back(width);
            }
            path.clear();
        } else if (t == "n") {
            path.clear();
        } else if (t == "f" || t == "F" || t == "f*" || t == "B" || t == "B*" || t == "b" || t == "b*" || t == "BT"
                   || t == "Do" || t == "BI" || t == "sh" || t == "W" || t == "W*" || t == "re" || t == "c" || t == "v"
                   || t == "y") {
            page.OtherPainting << QString::fromLatin1(t);
            path.clear();
        }
        nums.clear();
    }
}

QString DecodeTitle(const QByteArray& pdf)
{
    const auto m = QRegularExpression(QStringLiteral("/Title \\(([^)]*)\\)")).match(QString::fromLatin1(pdf));
    return m.hasMatch() ? m.captured(1) : QString();
}

} // namespace

PdfContent ReadPdfStrokes(const QByteArray& pdf)
{
    PdfContent result;
    if (!pdf.startsWith("%PDF-")) {
        result.Error = QStringLiteral("not a PDF");
        return result;
    }
    result.Title = DecodeTitle(pdf);
    const QString text = QString::fromLatin1(pdf);
    const QRegularExpression pageRe(QStringLiteral("(\\d+) 0 obj\\s*<<\\s*/Type /Page\\b"));
    for (auto it = pageRe.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        const QByteArray obj = Object(pdf, m.captured(1).toInt());
        PdfPage page;
        const auto box =
            QRegularExpression(QStringLiteral("/MediaBox \\[([^\\]]*)\\]")).match(QString::fromLatin1(obj));
        if (box.hasMatch())
            for (const QString& v : box.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                page.MediaBox << v.toDouble();
        const auto contents =
            QRegularExpression(QStringLiteral("/Contents (\\d+) 0 R")).match(QString::fromLatin1(obj));
        if (contents.hasMatch())
            Interpret(StreamOf(pdf, Object(pdf, contents.captured(1).toInt())), page);
        result.Pages.push_back(page);
    }
    if (result.Pages.isEmpty())
        result.Error = QStringLiteral("no pages");
    return result;
}

PdfContent ReadPdfStrokesFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        PdfContent r;
        r.Error = QStringLiteral("cannot open ") + path;
        return r;
    }
    return ReadPdfStrokes(f.readAll());
}
