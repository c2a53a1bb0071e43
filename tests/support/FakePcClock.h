#pragma once

#include "calibration/DateTimeValue.h"

// A PC clock that reads what the test set.
class FakePcClock final : public PcClock {
public:
    DateTimeValue Now() override { return now; }
    DateTimeValue now = 0.0;
};
