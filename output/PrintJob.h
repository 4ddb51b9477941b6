#pragma once
// Printing a list of pictures in collated copies: every copy is a document of its own, one
// picture per page, drawn at the picture's position and printed size in printer pixels. No copy
// count ever reaches the printer driver, and no print dialog is shown.

#include <QList>
#include <functional>

class TPicProperties;
class TPrinter;

// Asked before every page (copy and page count from 1); returning false stops the job: the
// document in progress is abandoned (nothing of it is printed) and no further copy follows.
using PrintProgress = std::function<bool(int copy, int copies, int page, int pages)>;

// Prints `copies` documents of `pics` on the selected printer. A picture without an image gets a
// blank page. When drawing or the printer fails, the document that was begun is ended first (or
// abandoned, when ending it fails too), the remaining copies are not printed, and the error is
// raised. Returns false when `progress` stopped the job.
bool PrintCopies(TPrinter& printer, const QList<TPicProperties*>& pics, int copies,
                 const PrintProgress& progress = {});
