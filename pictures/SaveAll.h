#pragma once
// Saving every page under consecutive numbers ("Alle Bilder unter fortlaufender Nummer sichern").

#include "layout/Graphic.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// Numbered file names for saving all pages. From a chosen name F: the base B is F without its
// extension (folder included), E the extension, S the name part of B. Page numbers are written
// with three digits (001 to 999) and with all their digits from 1000 on.
QString NumberedPictureName(const QString& chosenPath, qint64 number);

// The highest number among the files of B's folder whose names match the pattern S*E: the name
// without its extension, less its first |S| characters, read as a whole number (after blanks, an
// optional sign and decimal digits, or hexadecimal after "$" or "0x", within 32 bits). Hidden and
// read-only files count; folders and special files (sockets, pipes, devices, broken links) do not.
// The comparison is case-sensitive, as the names of a Linux folder are: "PIC005.JPG" neither
// collides with nor continues the series "Pic.jpg". 0 when there is none.
int HighestPictureNumber(const QString& chosenPath);

// Called after each page: its number (1-based), the page count and the file written (empty for
// a page without picture). May throw; saving then stops after that page.
using SaveAllProgress = std::function<void(int page, int pageCount, const QString& fileName)>;

// Saves every page as a numbered file and returns the names written, in page order. Page i goes
// to NumberedPictureName(F, M + i) with M = HighestPictureNumber(F), in the format that
// SaveBitmapToFile chooses by F's extension; with an extension it cannot write, nothing is
// written. JPEG pages are encoded on two threads while the finished ones are written in order.
//
// An existing file is never replaced, also when it appears while saving runs: each file gets its
// name only if the name is still free (an exclusive link), otherwise the next number is taken and
// the following pages continue from there. So the series stays in page order without gaps of its
// own, and no question is asked. A page without picture (nullptr, or a null image) writes no
// file but keeps its number. When page k cannot be written, EFCreateError is raised for it: pages
// 1 to k − 1 stay written, nothing of page k remains, and the later pages are not written.
QStringList SaveAllPictures(const std::vector<const TGraphic*>& pages, const QString& chosenPath,
                            const SaveAllProgress& progress = {});
QStringList SaveAllPictures(const std::vector<QImage>& pages, const QString& chosenPath,
                            const SaveAllProgress& progress = {});
