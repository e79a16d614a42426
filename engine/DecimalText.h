#pragma once
// Numbers as text for files and screens: a full stop for the decimal mark
// and ASCII digits, whatever locale the C library or the desktop is in.

#include <string>

namespace vorel {

// "%.Nf" without the C library's locale: `decimals` digits after a point,
// rounded from the double's exact value to nearest, ties to even, as printf
// rounds.
std::string fixedDecimal(double v, int decimals);

}  // namespace vorel
