#pragma once
// The record readers of Velmora's metafile player, one per format (WmfReader.cpp,
// EmfReader.cpp): each walks its format's records, decodes them and drives the device context. A
// record that claims more bytes than it has is skipped; a header that does not hold raises
// TShortRead.

#include "pictures/metafile/MetaReader.h"

namespace MetaPlay {

class TDeviceContext;

// `file` is the whole WMF; `placeable` says whether it starts with the placeable header.
void PlayWmfRecords(TDeviceContext& dc, const TMetaReader& file, bool placeable);
// `file` is the whole EMF.
void PlayEmfRecords(TDeviceContext& dc, const TMetaReader& file);

} // namespace MetaPlay
