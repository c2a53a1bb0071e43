#pragma once

// The report text and file moved to src/report; this name stays only while the
// main window still includes it from here.
#include "report/ReportText.h"
