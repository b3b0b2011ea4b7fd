#include "numerics/cluster_ids.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "numerics/cluster_keys.hpp"

namespace quillon {
namespace {

// Whether every value is a finite integer. The key of such a value is its
// integer in decimal with ".0000" (and a minus sign for -0.0), a one-to-one
// function of the value's bits, so its bits group the rows exactly as the
// key text does, without rendering any text.
bool all_integers(const MatrixView& c, const InterruptPoll& interrupt) {
  for (std::size_t i = 0; i < c.rows; ++i) {
    interrupt.at_row(i);
    for (std::size_t j = 0; j < c.cols; ++j) {
      const double v = c(i, j);
      if (!std::isfinite(v) || std::trunc(v) != v) return false;
    }
  }
  return true;
}

// Numbers each distinct key in order of first appearance.
template <class Key, class KeyOf>
ClusterIds number_by(std::size_t rows, const InterruptPoll& interrupt, KeyOf&& key_of) {
  ClusterIds ids;
  ids.of_row.resize(rows);
  std::unordered_map<Key, std::size_t> number;
  for (std::size_t i = 0; i < rows; ++i) {
    interrupt.at_row(i);
    const auto [entry, inserted] = number.try_emplace(key_of(i), number.size());
    ids.of_row[i] = entry->second;
  }
  ids.count = number.size();
  return ids;
}

}  // namespace

ClusterIds number_clusters(const MatrixView& c, const InterruptPoll& interrupt) {
  if (c.cols == 1 && all_integers(c, interrupt)) {
    return number_by<std::uint64_t>(
        c.rows, interrupt, [&](std::size_t i) { return std::bit_cast<std::uint64_t>(c(i, 0)); });
  }
  if (c.cols > 1 && all_integers(c, interrupt)) {
    std::string bits(c.cols * sizeof(double), '\0');
    return number_by<std::string>(c.rows, interrupt, [&](std::size_t i) {
      for (std::size_t j = 0; j < c.cols; ++j) {
        const std::uint64_t b = std::bit_cast<std::uint64_t>(c(i, j));
        for (std::size_t byte = 0; byte < sizeof(double); ++byte) {
          bits[j * sizeof(double) + byte] = static_cast<char>(b >> (8 * byte));
        }
      }
      return bits;
    });
  }
  const std::vector<std::string> keys = build_cluster_keys(c, interrupt);
  return number_by<std::string_view>(c.rows, interrupt,
                                     [&](std::size_t i) { return std::string_view(keys[i]); });
}

}  // namespace quillon
