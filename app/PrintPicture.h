// Printing the current picture: the system print dialog, then one page with the picture as
// large as the printable area allows, its aspect kept, centred.
#pragma once

#include "pixolan/Pixolan.h"
#include "platform/gdi/Gdi.h"

#include <QString>
#include <functional>

class QPrinter;
class QWidget;

namespace app {

// The largest rectangle of the picture's aspect that fits a page of pageWidth x pageHeight
// device pixels, centred on it. Empty when the picture or the page is.
gdi::RECT fitToPage(long long pictureWidth, long long pictureHeight, int pageWidth, int pageHeight);

// Runs the print dialog on printer; true when the user chose to print. Goes through a
// swappable runner, so that tests can answer for the user (and aim the printer at a file).
bool ExecutePrintDialog(QPrinter& printer, QWidget* owner);
using PrintDialogRunner = std::function<bool(QPrinter& printer, QWidget* owner)>;
// Replaces how the dialog is run; returns the previous runner (empty: the system dialog).
PrintDialogRunner setPrintDialogRunner(PrintDialogRunner runner);

// Prints dib on one page of printer. On failure returns false and sets *error to a message
// for the user.
bool PrintPicture(const DibRecord& dib, QPrinter& printer, QString* error);

} // namespace app
