#pragma once

// The error report's words (common/ErrorText.h) for the window's own text.

#include "common/ErrorText.h"

#include <QString>

QString ErrorReportText(const QString& message);
