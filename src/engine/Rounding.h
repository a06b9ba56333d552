#pragma once

#include <cmath>

// Every fraction the user sees (percent, seconds, scroll steps) is rounded to the nearest
// integer with halves going to the even neighbour. std::rint does exactly that in the
// default floating-point rounding mode, which the program never changes.
inline int roundHalfEven(double v)
{
    return static_cast<int>(std::rint(v));
}
