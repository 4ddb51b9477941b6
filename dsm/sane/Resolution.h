#pragma once
// ICAP_XRESOLUTION over SANE's resolution option: the container the capability shows, and how a
// wanted value is snapped onto the option's constraint. Pure functions over the option model.

#include "dsm/sane/SaneTypes.h"

#include <vector>

namespace sanebridge {

struct ResolutionCap {
    enum class Kind { None, OneValue, Range, Enumeration };
    Kind kind = Kind::None;
    double current = 0;
    double min = 0, max = 0, step = 0; // Range
    std::vector<double> values;        // Enumeration
    int currentIndex = 0;              // Enumeration: index of current in values (or 0)
};

// The option that holds the horizontal resolution: "resolution", else "x-resolution"; nullptr
// when the device has none (or it is not a number).
const OptionDesc* FindResolutionOption(const std::vector<OptionDesc>& options);

// The capability as the option describes it (Kind::None without the option).
ResolutionCap DescribeResolution(const std::vector<OptionDesc>& options);

// The value of the constraint nearest to `wanted` (range: clamped and on the quantisation
// grid; word list: the nearest word; INT options whole numbers).
double SnapResolution(const OptionDesc& option, double wanted);

// The resolution a quick preview scans at: the option's lowest value at or above 50 dpi, its
// highest when every value is lower.
double PreviewResolution(const OptionDesc& option);

} // namespace sanebridge
