#include "numerics/cluster_keys.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace quillon {

void append_cluster_value(std::string& key, double value) {
  if (std::isnan(value)) {
    key += "NaN";
    return;
  }
  if (std::isinf(value)) {
    key += value < 0.0 ? "-inf" : "inf";
    return;
  }
  // std::to_chars is exact and locale-independent. The largest double has
  // 309 integer digits; with sign, point and four decimals it fits, so the
  // conversion cannot run out of room, its only failure.
  std::array<char, 320> text;
  char* end =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 4).ptr;
  key.append(text.data(), end);
}

std::vector<std::string> build_cluster_keys(const MatrixView& clusters,
                                            const InterruptPoll& interrupt) {
  std::vector<std::string> keys;
  keys.reserve(clusters.rows);
  for (std::size_t i = 0; i < clusters.rows; ++i) {
    interrupt.at_row(i);
    std::string key;
    for (std::size_t j = 0; j < clusters.cols; ++j) {
      if (j > 0) key += '|';
      append_cluster_value(key, clusters(i, j));
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

}  // namespace quillon
