#pragma once
// Velmora's own player of WMF and EMF records. It draws through QPainter, reads every byte through
// TMetaReader and skips what it does not know, so a damaged file gives a partial picture at worst.
// One record reader per format (RecordReaders.h) decodes the records and drives the device context
// both formats share (DeviceContext.h).

#include "pictures/metafile/Metafile.h"

class QPainter;

// Plays `bytes` (the whole file) into `target` of `painter`. Composes the painter's transform and
// clip and restores the painter's state afterwards.
void PlayMetafile(QPainter& painter, const QRectF& target, const QByteArray& bytes,
                  const TMetaLayout& layout);
