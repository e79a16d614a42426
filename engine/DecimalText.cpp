#include "engine/DecimalText.h"

#include <charconv>

namespace vorel {

std::string fixedDecimal(double v, int decimals) {
    // The largest double has 309 integer digits.
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, res.ec == std::errc{} ? res.ptr : buf);
}

}  // namespace vorel
