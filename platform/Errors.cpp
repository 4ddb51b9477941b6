#include "platform/Errors.h"

#include <cmath>
#include <limits>

const char* Exception::what() const noexcept {
    if (m_what.empty())
        m_what = std::string(ClassName()) + ": " + m_message.toStdString();
    return m_what.c_str();
}

double CheckedDiv(double numerator, double denominator) {
    if (denominator == 0.0) {
        if (numerator == 0.0 || std::isnan(numerator))
            throw EInvalidOp(QStringLiteral("Ungültige Gleitkommaoperation"));
        throw EZeroDivide(QStringLiteral("Gleitkommadivision durch Null"));
    }
    return numerator / denominator;
}

int RoundHalfEven(double value) {
    // Velmora never changes the floating-point rounding mode, so nearbyint rounds half to even.
    if (std::isnan(value))
        throw EInvalidOp(QStringLiteral("Ungültige Gleitkommaoperation"));
    const double r = std::nearbyint(value);
    // Absurd zooms (up to 2147483647 %) must not wrap around into negative sizes: saturate.
    if (r <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (r >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(r);
}
