#include "ui/frmReport.h"

#include "commands/DeviceCommands.h"
#include "commands/MainWindowText.h"
#include "communication/ResultCodes.h"
#include "report/ReportText.h"
#include "ui/Application.h"
#include "ui/Presenter.h"
#include "ui/ProgramFolders.h"
#include "ui/TestIcons.h"
#include "ui_frmReport.h"

#include <QDir>
#include <QFile>

TfrmReport::TfrmReport(QWidget* owner, Presenter& messagePresenter, std::string body)
    : QDialog(owner), ui(std::make_unique<Ui::TfrmReport>()), presenter(messagePresenter),
      reportBody(std::move(body)) {
    ui->setupUi(this);
    setModal(false);
    setFixedSize(279, 177);
    move(480, 395);
    setWindowIcon(QIcon(ReportPicture()));
    // Enter in any field is Ok, as in every Windows dialog; Escape is Cancel.
    ui->BtnOkRep->setDefault(true);
    connect(ui->BtnOkRep, &QPushButton::clicked, this,
            [this] { RunHandler(this, presenter, [this] { BtnOkRepClick(); }); });
    connect(ui->BtnCancelRep, &QPushButton::clicked, this, &TfrmReport::BtnCancelRepClick);
    // The save step; no control or key triggers it, Ok calls its handler.
    connect(ui->FileSave, &QAction::triggered, this,
            [this] { RunHandler(this, presenter, [this] { FileSaveExecute(); }); });
}

TfrmReport::~TfrmReport() = default;

void TfrmReport::BtnOkRepClick() {
    const ContactProblem problem =
        CheckContact(static_cast<std::size_t>(ui->EdtName->text().size()),
                     static_cast<std::size_t>(ui->EdtPhoneNo->text().size()));
    if (problem != ContactProblem::None) {
        presenter.ShowError(this, ContactProblemMessage(problem));
        return;
    }
    FileSaveExecute();
}

void TfrmReport::BtnCancelRepClick() {
    close();
}

void TfrmReport::FileSaveExecute() {
    ReportContact contact;
    contact.name = ui->EdtName->text().toStdString();
    contact.company = ui->EdtCompany->text().toStdString();
    contact.phone = ui->EdtPhoneNo->text().toStdString();
    contact.fax = ui->EdtFaxNo->text().toStdString();
    contact.email = ui->EdtEmail->text().toStdString();
    const std::string text = ReportFileText(contact, reportBody);
    // The file stays in the PC's code page (the support desk's tools read it so): what
    // it cannot hold would become '?', so the user decides first.
    if (const std::string unsavable = UnsavableCharacters(text);
        !unsavable.empty() &&
        !presenter.Ask(this, QString::fromStdString(UnsavableCharactersQuestion(unsavable)),
                       "Save As")) {
        return;
    }
    Presenter::SaveRequest request;
    request.title = "Save As";
    request.filter = "Text file (*.txt);;All files (*.*)";
    request.defaultSuffix = "txt";
    request.confirmOverwrite = true;
    request.initialFolder = ReportDialogFolder();
    const std::optional<QString> chosen = presenter.GetSaveFileName(this, request);
    if (!chosen) {
        return;
    }
    if (chosen->isEmpty()) {
        presenter.ShowError(this, "Please enter a file name");
        return;
    }
    const std::string fileName = CompleteFileName(FileNameBytes(*chosen), "txt");
    // The system's text is in the local 8-bit encoding, the file name in the file
    // code's: the name goes in after the conversion.
    const std::string namePlace = "\x01";
    if (const ReportSaved saved = SaveReport(fileName, contact, reportBody, namePlace);
        !saved.Ok()) {
        presenter.ShowError(this, QString::fromLocal8Bit(saved.text)
                                      .replace(QString::fromLatin1(namePlace),
                                               QDir::toNativeSeparators(FileNameText(fileName))));
        return;
    }
    close();
}
