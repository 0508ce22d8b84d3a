#pragma once

// Reads a cutter job back into what the cutter would cut, from the languages'
// own documentation: HP-GL (IN, SP, PU, PD, PA, PR), Houston DM/PL (";:", H,
// A, R, EC1/EC5/ECM, U, D, P, V, L, "@"), Graphtec GP-GL (H, M, D, J, !, :,
// terminated by ETX, CR or LF) and Roland CAMM-GL I mode 1 (H, M, D, one per
// line). Strict on purpose: anything else is reported, as are a job left
// with the tool down, HP-GL cutting with no pen selected, DM/PL without its
// ";:" opening, its unit or its closing "@".

#include "cutter/DeviceSettings.h"

#include <QByteArray>
#include <QPointF>
#include <QString>

#include <vector>

// Plotter units per mm of the language as the decoder reads it; 0 for Driver.
double PlotterUnitsPerMm(SendAs language);

// Each cut path (the tool down from one point through the next ones; a lone
// plunge is a path of one point), in mm in the cutter's own axes, which are
// the sheet's when no rotation or mirror is set. On malformed input: empty,
// and *error (when given) says what and at which byte.
std::vector<std::vector<QPointF>> DecodePlotterJob(SendAs language, const QByteArray& job, QString* error);
