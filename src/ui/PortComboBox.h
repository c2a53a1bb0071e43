#pragma once

#include "communication/serial/PortRows.h"

#include <QComboBox>
#include <QString>
#include <functional>
#include <vector>

// The COM port box: whoever owns it refreshes the list just before it opens, so
// that an adapter plugged in since appears and one pulled out is gone. The open list
// shows each port's name with what the system calls the device; the closed box, too
// narrow for that, shows the name, and the description in its tool tip. The name,
// which the commands take, is each item's data.
class PortComboBox : public QComboBox {
public:
    explicit PortComboBox(QWidget* parent = nullptr);

    void SetBeforeOpen(std::function<void()> refresh) { beforeOpen = std::move(refresh); }

    // Lists rows, choosing the port named preferred if listed, else the first.
    void SetPorts(const std::vector<PortRow>& rows, const QString& preferred);

    // The chosen port's name as the commands take it ("COM7:"); empty when none.
    QString PortName() const { return currentData().toString(); }

    void showPopup() override {
        if (beforeOpen) {
            beforeOpen();
        }
        QComboBox::showPopup();
    }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowChosenInToolTip();

    std::function<void()> beforeOpen;
};
