#pragma once

// Qt's PDF engine writes the page size in whole points (A4 becomes 595 x 842),
// which puts the sheet's top edge up to half a point off for a driver that
// measures from it or centres the page. This puts the exact size back.

#include <QByteArray>

// pdf with its one page's MediaBox set to [0 0 widthPt heightPt] (three
// decimals, well under 0.001 mm) and its cross-reference table and startxref
// moved to match.
//
// Only the shape Qt writes is edited: one page with one MediaBox at the
// origin, a single classic xref table whose in-use entries each point at
// their "n g obj", no incremental update. Anything else, or a size that is
// not a positive finite number, comes back unchanged: a rounded box costs a
// fraction of a millimetre, a broken file costs the job.
QByteArray SetMediaBox(const QByteArray& pdf, double widthPt, double heightPt);
