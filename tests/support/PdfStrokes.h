#pragma once

// Reads back what a PDF job draws: enough of the format to check a plot's
// geometry (pages, MediaBox, stroked paths with the current transform) and
// that nothing but strokes is drawn.

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

struct PdfPage {
    QVector<double> MediaBox;          // llx lly urx ury, points
    QVector<QVector<QPointF>> Strokes; // each stroked subpath, points from the lower-left
    QVector<double> LineWidths;        // the width set for each stroke
    QStringList OtherPainting;         // fill, text, image or clip operators seen
};

struct PdfContent {
    QVector<PdfPage> Pages;
    QString Title; // the Info dictionary's /Title, decoded
    QString Error; // set when the file could not be read
};

PdfContent ReadPdfStrokes(const QByteArray& pdf);
PdfContent ReadPdfStrokesFile(const QString& path);
