#pragma once

// The main window's texts moved to src/ui/text; this name stays only while the
// main window still includes it from here.
#include "ui/text/MainWindowText.h"
