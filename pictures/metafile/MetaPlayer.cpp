#include "pictures/metafile/MetaPlayer.h"

#include <QPainter>

void PlayMetafile(QPainter& painter, const QRectF& target, const QByteArray& bytes,
                  const TMetaLayout& layout) {
    // The record player follows; until then a metafile draws nothing.
    Q_UNUSED(painter)
    Q_UNUSED(target)
    Q_UNUSED(bytes)
    Q_UNUSED(layout)
}
