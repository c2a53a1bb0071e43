#include "ui/frmTimeCalUI.h"

#include "ui_frmTimeCalUI.h"

TfrmTimeCal* frmTimeCal = nullptr;

TfrmTimeCal::TfrmTimeCal(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmTimeCal>()) {
    ui->setupUi(this);
    // Closed with its own button only: no caption-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(547, 614);
    connect(ui->butClose, &QPushButton::clicked, this, &TfrmTimeCal::butCloseClick);
}

TfrmTimeCal::~TfrmTimeCal() = default;

void TfrmTimeCal::butCloseClick() {
    close();
}
