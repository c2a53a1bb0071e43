#pragma once

// The progress bar as the ticker sees it. Called from the ticker thread; an
// implementation must not block on the window's thread (the window may be
// waiting for the ticker to end).
class ProgressTarget {
public:
    virtual ~ProgressTarget() = default;
    // The bar's current maximum, read anew on every tick.
    virtual int Maximum() const = 0;
    // Advance by one step and have the bar and the window repainted.
    virtual void StepIt() = 0;
    virtual void SetPosition(int position) = 0;
};
