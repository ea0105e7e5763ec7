#include "core/numbers.hpp"

#include <algorithm>

namespace filarix {

namespace {

std::string group_digits(std::uint64_t value) {
    std::string out;
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0) out.push_back(',');
        out.push_back(static_cast<char>('0' + value % 10));
        value /= 10;
        ++digits;
    } while (value != 0);
    std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace

std::string format_thousands(std::uint32_t count) {
    return group_digits(count);
}

std::string format_thousands64(std::int64_t value) {
    // The magnitude of the most negative value does not fit a signed type.
    const std::uint64_t magnitude =
        value < 0 ? std::uint64_t(0) - static_cast<std::uint64_t>(value) : std::uint64_t(value);
    std::string out = group_digits(magnitude);
    if (value < 0) out.insert(out.begin(), '-');
    return out;
}

}  // namespace filarix
