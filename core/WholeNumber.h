#pragma once
// A value converted to Integer as the classic conversion does: read as a number, halves rounded
// to even, and held within the Integer range (a wild stored number never overflows).
#include <QVariant>
#include <algorithm>
#include <cmath>

#include "core/Conversions.h"

inline int ToInteger(const QVariant& v)
{
    const double d = std::nearbyint(Val(v));
    if (!std::isfinite(d)) return 0;
    return int(std::clamp(d, -2147483648.0, 2147483647.0));
}
