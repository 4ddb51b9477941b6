#include "output/PrintJob.h"

#include "layout/PicObj.h"
#include "output/Printer.h"

#include <QPainter>

namespace {

// Draws the pages of one copy; false when the job was stopped.
bool PrintDocument(TPrinter& printer, const QList<TPicProperties*>& pics, int copy, int copies,
                   const PrintProgress& progress) {
    const int pages = static_cast<int>(pics.size());
    for (int i = 0; i < pages; ++i) {
        if (progress && !progress(copy, copies, i + 1, pages))
            return false;
        if (i > 0)
            printer.NewPage();
        const TPicProperties& pic = *pics[i];
        if (!pic.IsEmpty())
            pic.Draw(printer.Canvas(), pic.XPos(), pic.YPos(), pic.PrnPicWidth(),
                     pic.PrnPicHeight());
    }
    return true;
}

} // namespace

bool PrintCopies(TPrinter& printer, const QList<TPicProperties*>& pics, int copies,
                 const PrintProgress& progress) {
    for (int copy = 1; copy <= copies; ++copy) {
        printer.BeginDoc();
        bool completed = false;
        try {
            completed = PrintDocument(printer, pics, copy, copies, progress);
        } catch (...) {
            // The document that was begun is ended before the error goes on; should ending it
            // fail as well, it is abandoned so that nothing half-built stays open.
            try {
                printer.EndDoc();
            } catch (...) {
                printer.Abort();
            }
            throw;
        }
        if (!completed) {
            printer.Abort();
            return false;
        }
        printer.EndDoc();
    }
    return true;
}
