// The reference data of the kernel tests (written by data/make_reference.py).
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <fstream>
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

}  // namespace quillon::test_data
