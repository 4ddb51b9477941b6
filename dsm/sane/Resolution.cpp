#include "dsm/sane/Resolution.h"

#include <algorithm>
#include <cmath>

namespace sanebridge {

const OptionDesc* FindResolutionOption(const std::vector<OptionDesc>& options) {
    for (const char* name : {"resolution", "x-resolution"})
        for (const OptionDesc& o : options)
            if (o.name == name && (o.type == OptionType::Int || o.type == OptionType::Fixed) &&
                o.active)
                return &o;
    return nullptr;
}

ResolutionCap DescribeResolution(const std::vector<OptionDesc>& options) {
    ResolutionCap cap;
    const OptionDesc* o = FindResolutionOption(options);
    if (!o)
        return cap;
    cap.current = o->numbers.empty() ? 0 : o->numbers.front();
    switch (o->constraint) {
    case Constraint::Range:
        cap.kind = ResolutionCap::Kind::Range;
        cap.min = o->min;
        cap.max = o->max;
        cap.step = o->quant > 0 ? o->quant : (o->type == OptionType::Int ? 1 : 0);
        break;
    case Constraint::WordList:
        cap.kind = ResolutionCap::Kind::Enumeration;
        cap.values = o->words;
        for (std::size_t i = 0; i < cap.values.size(); ++i)
            if (cap.values[i] == cap.current)
                cap.currentIndex = static_cast<int>(i);
        break;
    default:
        cap.kind = ResolutionCap::Kind::OneValue;
        break;
    }
    return cap;
}

double SnapResolution(const OptionDesc& option, double wanted) {
    double v = wanted;
    if (option.constraint == Constraint::Range) {
        v = std::clamp(v, option.min, option.max);
        if (option.quant > 0)
            v = std::min(option.max,
                         option.min + std::round((v - option.min) / option.quant) * option.quant);
    } else if (option.constraint == Constraint::WordList && !option.words.empty()) {
        v = *std::min_element(option.words.begin(), option.words.end(), [&](double a, double b) {
            return std::fabs(a - wanted) < std::fabs(b - wanted);
        });
    }
    return option.type == OptionType::Int ? std::round(v) : v;
}

double PreviewResolution(const OptionDesc& option) {
    constexpr double lowest = 50;
    double v = lowest;
    if (option.constraint == Constraint::Range) {
        v = std::max(option.min, lowest);
        if (option.quant > 0)
            // The small allowance keeps a value already on the grid from rounding a step up.
            v = option.min + std::ceil((v - option.min) / option.quant - 1e-9) * option.quant;
        v = std::min(v, option.max);
    } else if (option.constraint == Constraint::WordList && !option.words.empty()) {
        const auto highest = std::max_element(option.words.begin(), option.words.end());
        v = *highest;
        for (double w : option.words)
            if (w >= lowest && w < v)
                v = w;
    } else if (!option.numbers.empty()) {
        v = option.numbers.front();
    }
    return option.type == OptionType::Int ? std::ceil(v - 1e-9) : v;
}

} // namespace sanebridge
