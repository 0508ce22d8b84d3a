#pragma once

// Reads a cutter job back into what the cutter would cut, from the languages'
// own documentation: HP-GL (IN, SP, PU, PD, PA, PR; FS force and VS velocity,
// each with an optional pen), Houston DM/PL (";:", H, A, R, EC1/EC5/ECM, U,
// D, P, V, L, "@"; Summa's BP blade pressure), Graphtec GP-GL (H, M, D, J, !,
// :, and FX force, terminated by ETX, CR or LF) and Roland CAMM-GL I mode 1 (H, M, D, one per
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
// A force ('F') or speed ('S') instruction, its value, and how many paths
// were cut before it. One given while the tool is down is malformed: the
// knife would turn in the material.
struct DecodedTool {
    size_t PathsBefore = 0;
    char What = 'F';
    double Value = 0;
    friend bool operator==(const DecodedTool&, const DecodedTool&) = default;
};
std::vector<std::vector<QPointF>> DecodePlotterJob(SendAs language, const QByteArray& job, QString* error,
                                                   std::vector<DecodedTool>* tools = nullptr);
