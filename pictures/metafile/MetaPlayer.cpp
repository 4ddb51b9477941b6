#include "pictures/metafile/MetaPlayer.h"

#include "pictures/metafile/DeviceContext.h"
#include "pictures/metafile/RecordReaders.h"

#include <QPainter>

void PlayMetafile(QPainter& painter, const QRectF& target, const QByteArray& bytes,
                  const TMetaLayout& layout) {
    if (!painter.isActive() || layout.Frame.width() == 0 || layout.Frame.height() == 0 ||
        target.isNull())
        return;
    MetaPlay::TDeviceContext dc(painter, target, layout);
    const TMetaReader reader(bytes);
    try {
        if (layout.Kind == TMetafileKind::Wmf)
            MetaPlay::PlayWmfRecords(dc, reader, layout.Placeable);
        else
            MetaPlay::PlayEmfRecords(dc, reader);
    } catch (const TShortRead&) {
        // A header that does not hold: nothing more to draw.
    }
}
