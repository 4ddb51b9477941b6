#pragma once
// The page list of the print command ("1,3-5"): which pages, in which order, and how often.

#include <QString>
#include <Qt>
#include <vector>

// Page numbers (1..pageCount) to print for the text of the page-list edit, in the order they
// are written; a page named twice is printed twice. Items are separated by ","; an item with a
// "-" is a range whose missing or unreadable start means page 1 and whose missing or unreadable
// end means the last page; a single number outside 1..pageCount, or a reversed range, selects
// nothing. Numbers follow the copier's whole-number rule.
std::vector<int> ResolvePageList(const QString& text, int pageCount);

// What a print takes.
struct TPageSelection {
    bool AllPages = true; // "Alle Seiten"; else the page list
    QString List;         // the page-list edit's text
    // The page a fast copy has just scanned, printed after it arrived; 0 for the print command.
    int OnlyPage = 0;
};

// Page numbers (1..pageCount) a print takes. The print command follows the page selection. The
// print after each page of a fast copy takes that page alone, whatever the selection: a copier
// gives one copy of every sheet, not every page held so far again with each new one.
std::vector<int> SelectedPages(const TPageSelection& selection, int pageCount);

// Whether a typed character may enter the page-list edit: digits, ",", "-" and backspace.
bool IsPageListChar(QChar c);

// Whether a key press with `text` and `modifiers` types a character, which the page-list edit
// filters. Keys that type nothing (cursor keys, Home, End), control characters (Tab, Delete,
// Backspace, Return) and Ctrl or Meta combinations (the edit's Ctrl+A, C, V, X) are not typing:
// they work as in any edit.
bool IsTypedCharacter(const QString& text, Qt::KeyboardModifiers modifiers);
