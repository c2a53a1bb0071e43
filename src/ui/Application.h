#pragma once

#include <functional>

class Presenter;
class QWidget;

// The program's font: the platform's sans-serif at the size the window's layout
// was drawn for.
void ApplyProgramFont();

// The hourglass for as long as a command holds it; restored on every way out.
class Hourglass {
public:
    Hourglass();
    ~Hourglass();
    Hourglass(const Hourglass&) = delete;
    Hourglass& operator=(const Hourglass&) = delete;
    void Restore();

private:
    bool active = true;
};

// Runs one event handler. An exception that escapes it is shown in a box with
// caption "Error" and its text, and the program goes on: exceptions must not pass
// through Qt's event loop.
void RunHandler(QWidget* owner, Presenter& presenter, const std::function<void()>& handler);
