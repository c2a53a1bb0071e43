#pragma once

#include <QPixmap>

// The self-test pictures, drawn here rather than shipped as images.
QPixmap PassedPicture();  // 16 x 16: green check mark on white
QPixmap FailedPicture();  // 16 x 16: red cross on white
QPixmap NotDonePicture(); // 14 x 14: black question mark on white
QPixmap ReportPicture();  // 32 x 32: a sheet of lines, the report dialog's icon
