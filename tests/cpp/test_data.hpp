// The data of the kernel tests: the reference files (written by
// data/make_reference.py), designs drawn from fixed seeds, and exact
// comparisons of results.
#pragma once

#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "estimation/probit.hpp"

namespace quillon::test_data {

// Rows of a numeric CSV file in the test data directory, header skipped.
inline std::vector<std::vector<double>> read_csv(const std::string& name) {
  std::ifstream in(std::string(QUILLON_TEST_DATA_DIR) + "/" + name);
  if (!in) throw std::runtime_error("cannot read " + name);
  std::vector<std::vector<double>> rows;
  std::string line, cell;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    auto& row = rows.emplace_back();
    while (std::getline(cells, cell, ',')) {
      double v = NAN;
      std::from_chars(cell.data(), cell.data() + cell.size(), v);
      row.push_back(v);
    }
  }
  return rows;
}

// Outcomes and a row-major regressor matrix that own the memory the views use.
struct Design {
  std::size_t n = 0, k = 0;
  std::vector<double> y, x;
  ProbitData data() const {
    return {{y.data(), n, 1}, {x.data(), n, k, static_cast<std::ptrdiff_t>(k), 1}};
  }
};

// The seeded design that the reference fits were computed on.
inline Design seeded_design() {
  Design d;
  for (const auto& r : read_csv("probit_design.csv")) {
    d.k = r.size() - 1;
    d.y.push_back(r[0]);
    d.x.insert(d.x.end(), r.begin() + 1, r.end());
    ++d.n;
  }
  return d;
}

// n rows of k regressors drawn from `seed`: a column of ones, then columns
// alternately standard normal and 0/1, and the outcome of a probit model in
// which every coefficient is 0.5.
inline Design random_design(std::size_t n, std::size_t k, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  std::bernoulli_distribution coin;
  Design d{n, k, {}, {}};
  for (std::size_t i = 0; i < n; ++i) {
    double index = normal(rng);
    for (std::size_t j = 0; j < k; ++j) {
      const double v = j == 0 ? 1.0 : j % 2 == 1 ? normal(rng) : coin(rng) ? 1.0 : 0.0;
      d.x.push_back(v);
      index += 0.5 * v;
    }
    d.y.push_back(index > 0.0 ? 1.0 : 0.0);
  }
  return d;
}

// The values of a matrix, row after row.
// Row i is the score of observation i.
inline Matrix score_matrix(const ProbitData& data, const std::vector<double>& beta) {
  Matrix s(data.nobs(), data.nparams());
  data.score_rows(beta, s.row(0));
  return s;
}

inline std::vector<double> flat(const Matrix& m) {
  std::vector<double> v;
  for (std::size_t i = 0; i < m.rows(); ++i) v.insert(v.end(), m.row(i), m.row(i) + m.cols());
  return v;
}

// Equal lengths and the same double at every position: the same bits, or NaN
// on both sides (the arithmetic promises neither the sign nor the payload of
// a NaN).
inline bool same_doubles(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool both_nan = std::isnan(a[i]) && std::isnan(b[i]);
    if (!both_nan && std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i]))
      return false;
  }
  return true;
}

}  // namespace quillon::test_data
