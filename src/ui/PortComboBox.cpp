#include "ui/PortComboBox.h"

#include <QStyleOptionComboBox>
#include <QStylePainter>

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentIndexChanged, this, &PortComboBox::ShowChosenInToolTip);
}

void PortComboBox::ShowChosenInToolTip() {
    setToolTip(currentIndex() >= 0 ? currentText() : QString());
}

void PortComboBox::SetPorts(const std::vector<PortRow>& rows, const QString& preferred) {
    QStringList names;
    QStringList texts;
    for (const PortRow& row : rows) {
        names << QString::fromLocal8Bit(row.name);
        const QString description = QString::fromStdString(row.description);
        texts << (description.isEmpty() ? names.back() : names.back() + "  " + description);
    }
    QStringList listedNames;
    QStringList listedTexts;
    for (int index = 0; index < count(); ++index) {
        listedNames << itemData(index).toString();
        listedTexts << itemText(index);
    }
    // An unchanged list is left alone, so that an open list does not jump.
    if (names != listedNames || texts != listedTexts) {
        const QSignalBlocker quiet(this);
        clear();
        for (qsizetype index = 0; index < names.size(); ++index) {
            addItem(texts[index], names[index]);
            setItemData(static_cast<int>(index), texts[index], Qt::ToolTipRole);
        }
    }
    const int chosen = static_cast<int>(names.indexOf(preferred));
    setCurrentIndex(chosen >= 0 ? chosen : names.isEmpty() ? -1 : 0);
    ShowChosenInToolTip();
}

void PortComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = PortName();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
