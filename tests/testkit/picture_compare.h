// How close two pictures of the same size are, as peak signal-to-noise ratio in dB over their
// bytes; 99 for identical pictures, 0 for pictures that cannot be compared.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace testkit {

inline double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    const double mse = sum / static_cast<double>(a.size());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace testkit
