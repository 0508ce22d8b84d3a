#include "platform/pdf/PdfPageBox.h"

#include <QList>

#include <cmath>
#include <optional>
#include <vector>

namespace {

bool IsWhite(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool IsDelimiter(char c)
{
    return IsWhite(c) || c == '/' || c == '[' || c == ']' || c == '<' || c == '>' || c == '(' || c == ')' || c == '{'
           || c == '}' || c == '%';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

qsizetype SkipWhite(const QByteArray& s, qsizetype i)
{
    while (i < s.size() && IsWhite(s[i]))
        ++i;
    return i;
}

// A run of at most 10 digits at i (xref offsets are 10 digits wide); -1 when
// there is none. end receives the position after it.
qint64 ReadNumber(const QByteArray& s, qsizetype i, qsizetype& end)
{
    qint64 v = 0;
    end = i;
    while (end < s.size() && IsDigit(s[end]) && end - i < 10)
        v = v * 10 + (s[end++] - '0');
    if (end == i || (end < s.size() && IsDigit(s[end])))
        return -1;
    return v;
}

// Where the name occurs as a whole token ("/Page" but not "/Pages").
std::vector<qsizetype> FindName(const QByteArray& s, const char* name)
{
    std::vector<qsizetype> found;
    const qsizetype len = qstrlen(name);
    for (qsizetype i = s.indexOf(name); i >= 0; i = s.indexOf(name, i + 1)) {
        if (i + len == s.size() || IsDelimiter(s[i + len]))
            found.push_back(i);
    }
    return found;
}

struct InUseEntry {
    qsizetype FieldAt; // the entry's 10-digit offset field
    qint64 Offset;
};

struct ClassicXref {
    qint64 Start = 0;               // where "xref" begins
    qsizetype StartxrefValueAt = 0; // the digits after "startxref"
    qsizetype StartxrefValueEnd = 0;
    std::vector<InUseEntry> InUse;
};

std::optional<ClassicXref> ParseXref(const QByteArray& pdf)
{
    ClassicXref x;
    // The tail: "startxref" N "%%EOF", nothing after but white space. A file
    // updated incrementally has a second one.
    if (pdf.count("startxref") != 1)
        return std::nullopt;
    const qsizetype sx = pdf.lastIndexOf("startxref");
    qsizetype i = SkipWhite(pdf, sx + 9);
    x.StartxrefValueAt = i;
    x.Start = ReadNumber(pdf, i, i);
    x.StartxrefValueEnd = i;
    i = SkipWhite(pdf, i);
    if (x.Start < 0 || x.Start >= sx || !pdf.mid(i, 5).startsWith("%%EOF") || SkipWhite(pdf, i + 5) != pdf.size())
        return std::nullopt;

    // An xref stream ("n 0 obj" here) is not what Qt writes.
    i = static_cast<qsizetype>(x.Start);
    if (pdf.mid(i, 4) != "xref")
        return std::nullopt;
    i = SkipWhite(pdf, i + 4);
    while (pdf.mid(i, 7) != "trailer") {
        qsizetype e;
        const qint64 first = ReadNumber(pdf, i, e);
        if (first < 0 || e >= pdf.size() || pdf[e] != ' ')
            return std::nullopt;
        const qint64 count = ReadNumber(pdf, e + 1, e);
        if (count < 0)
            return std::nullopt;
        i = SkipWhite(pdf, e);
        // Fixed 20-byte entries: "oooooooooo ggggg n" and a two-byte end of line.
        for (qint64 k = 0; k < count; ++k, i += 20) {
            if (i + 20 > sx)
                return std::nullopt;
            qsizetype e1, e2;
            const qint64 offset = ReadNumber(pdf, i, e1);
            const qint64 gen = ReadNumber(pdf, i + 11, e2);
            const char kind = pdf[i + 17];
            const QByteArray eol = pdf.mid(i + 18, 2);
            if (offset < 0 || e1 != i + 10 || pdf[i + 10] != ' ' || gen < 0 || e2 != i + 16 || pdf[i + 16] != ' '
                || (kind != 'n' && kind != 'f') || (eol != " \n" && eol != " \r" && eol != "\r\n"))
                return std::nullopt;
            if (kind == 'f')
                continue;
            // Each object must be where the table says, or the offsets cannot
            // be trusted to move.
            const QByteArray head = QByteArray::number(first + k) + ' ' + QByteArray::number(gen) + " obj";
            if (offset >= x.Start || pdf.mid(static_cast<qsizetype>(offset), head.size()) != head)
                return std::nullopt;
            x.InUse.push_back({i, offset});
        }
    }
    const QByteArray trailer = pdf.mid(i, sx - i);
    if (trailer.contains("/Prev") || trailer.contains("/XRefStm"))
        return std::nullopt;
    return x;
}

// The object that holds position at: the in-use entry starting last before it.
qint64 ObjectAround(const ClassicXref& x, qsizetype at)
{
    qint64 best = -1;
    for (const InUseEntry& e : x.InUse)
        if (e.Offset <= at && e.Offset > best)
            best = e.Offset;
    return best;
}

QByteArray TenDigits(qint64 v)
{
    return QByteArray::number(v).rightJustified(10, '0');
}

} // namespace

QByteArray SetMediaBox(const QByteArray& pdf, double widthPt, double heightPt)
{
    if (!std::isfinite(widthPt) || !std::isfinite(heightPt) || widthPt <= 0 || heightPt <= 0 || widthPt > 1e9
        || heightPt > 1e9 || !pdf.startsWith("%PDF-"))
        return pdf;
    const auto xref = ParseXref(pdf);
    const auto pages = FindName(pdf, "/Page");
    const auto boxes = FindName(pdf, "/MediaBox");
    if (!xref || pages.size() != 1 || boxes.size() != 1)
        return pdf;

    // The box must be the page's own, not one inherited from /Pages.
    const qint64 pageObj = ObjectAround(*xref, pages[0]);
    const qsizetype box = boxes[0];
    if (pageObj < 0 || ObjectAround(*xref, box) != pageObj
        || pdf.indexOf("endobj", static_cast<qsizetype>(pageObj)) < box)
        return pdf;

    // "[0 0 w h]": a box away from the origin would move the drawing.
    const qsizetype open = SkipWhite(pdf, box + 9);
    const qsizetype close = pdf.indexOf(']', open);
    if (open >= pdf.size() || pdf[open] != '[' || close < 0)
        return pdf;
    const QList<QByteArray> values = pdf.mid(open + 1, close - open - 1).simplified().split(' ');
    if (values.size() != 4)
        return pdf;
    for (int k = 0; k < 4; ++k) {
        bool ok = false;
        const double v = values[k].toDouble(&ok);
        if (!ok || (k < 2 && v != 0))
            return pdf;
    }

    const QByteArray newBox =
        "[0 0 " + QByteArray::number(widthPt, 'f', 3) + ' ' + QByteArray::number(heightPt, 'f', 3) + ']';
    const qsizetype end = close + 1;
    const qsizetype delta = newBox.size() - (end - open);
    const auto moved = [&](qint64 p) { return p > open ? p + delta : p; };

    for (const InUseEntry& e : xref->InUse)
        if (e.Offset >= open && e.Offset < end)
            return pdf;
    QByteArray out = pdf.left(open) + newBox + pdf.mid(end);
    for (const InUseEntry& e : xref->InUse) {
        const QByteArray field = TenDigits(moved(e.Offset));
        if (field.size() != 10)
            return pdf;
        out.replace(moved(e.FieldAt), 10, field);
    }
    // Last: the value may change length, and only "%%EOF" follows it.
    const qsizetype at = moved(xref->StartxrefValueAt);
    out.replace(at, moved(xref->StartxrefValueEnd) - at, QByteArray::number(moved(xref->Start)));
    return out;
}
