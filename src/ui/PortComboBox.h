#pragma once

#include <QComboBox>
#include <functional>

// The COM port box: whoever owns it refreshes the list just before it opens, so
// that an adapter plugged in since appears and one pulled out is gone.
class PortComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    void SetBeforeOpen(std::function<void()> refresh) { beforeOpen = std::move(refresh); }

    void showPopup() override {
        if (beforeOpen) {
            beforeOpen();
        }
        QComboBox::showPopup();
    }

private:
    std::function<void()> beforeOpen;
};
