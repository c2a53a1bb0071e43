#pragma once

#include <QPixmap>

// The program's pictures, drawn here on a transparent background rather than
// shipped as images.
QPixmap PassedPicture();  // 16 x 16: green check mark
QPixmap FailedPicture();  // 16 x 16: red cross
QPixmap NotDonePicture(); // 14 x 14: black question mark
QPixmap ReportPicture();  // 32 x 32: a sheet of lines, the report dialog's icon
