#include "output/PageList.h"

#include "platform/WholeNumber.h"

#include <QList>

#include <algorithm>

namespace {

// Blanks and control characters round an item do not count.
QStringView TrimControl(QStringView s) {
    while (!s.isEmpty() && s.front().unicode() <= ' ')
        s = s.mid(1);
    while (!s.isEmpty() && s.back().unicode() <= ' ')
        s.chop(1);
    return s;
}

} // namespace

std::vector<int> ResolvePageList(const QString& text, int pageCount) {
    std::vector<int> pages;
    for (QStringView raw : QStringView(text).split(QLatin1Char(','))) {
        const QStringView item = TrimControl(raw);
        if (item.isEmpty())
            continue;
        const qsizetype dash = item.indexOf(QLatin1Char('-'));
        if (dash < 0) {
            int k = 0;
            if (ReadWholeNumber(item, k) && k >= 1 && k <= pageCount)
                pages.push_back(k);
            continue;
        }
        // The first "-" splits; "2 - 4" has the start "2 " (a trailing blank is no number) and
        // "1-2-3" the end "2-3", so both fall back to their defaults.
        int first = 0;
        if (!ReadWholeNumber(item.left(dash), first) || first < 1)
            first = 1;
        int last = 0;
        if (!ReadWholeNumber(item.mid(dash + 1), last))
            last = pageCount;
        last = std::min(last, pageCount);
        for (long long p = first; p <= last; ++p) // no overflow past the last 32-bit page
            pages.push_back(static_cast<int>(p));
    }
    return pages;
}

std::vector<int> SelectedPages(const TPageSelection& selection, int pageCount) {
    if (selection.OnlyPage != 0) {
        if (selection.OnlyPage >= 1 && selection.OnlyPage <= pageCount)
            return {selection.OnlyPage};
        return {};
    }
    if (!selection.AllPages)
        return ResolvePageList(selection.List, pageCount);
    std::vector<int> pages;
    for (int page = 1; page <= pageCount; ++page)
        pages.push_back(page);
    return pages;
}

bool IsPageListChar(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char(',') ||
           c == QLatin1Char('-') || c == QChar(8);
}

bool IsTypedCharacter(const QString& text, Qt::KeyboardModifiers modifiers) {
    if (text.isEmpty() || modifiers & (Qt::ControlModifier | Qt::MetaModifier))
        return false;
    return text.front().category() != QChar::Other_Control;
}
