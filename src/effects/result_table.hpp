// The rows of the marginal-effects table: z statistics, two-sided p-values
// and significance markers.
#pragma once

#include <string>
#include <vector>

#include "effects/marginal_effects.hpp"

namespace quillon {

struct TableRow {
  std::string name;
  double effect;
  double std_error;
  double z;
  double p_value;
  const char* stars;
};

// "***" below 0.01, "**" below 0.05, "*" below 0.1, else (and for NaN) "".
const char* significance_stars(double p_value);

// One row per regressor that is not an intercept, in column order. Panics
// when a shown position has no name.
std::vector<TableRow> build_table(const MarginalEffects& effects,
                                  const std::vector<std::string>& names);

}  // namespace quillon
