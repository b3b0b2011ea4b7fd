#include "effects/result_table.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numerics/normal.hpp"
#include "numerics/panic.hpp"

namespace quillon {

const char* significance_stars(double p_value) {
  if (p_value < 0.01) return "***";
  if (p_value < 0.05) return "**";
  if (p_value < 0.1) return "*";
  return "";
}

std::vector<TableRow> build_table(const MarginalEffects& effects,
                                  const std::vector<std::string>& names) {
  const std::vector<std::size_t>& intercepts = effects.intercept_indices;
  std::vector<TableRow> rows;
  for (std::size_t k = 0; k < effects.effects.size(); ++k) {
    if (std::binary_search(intercepts.begin(), intercepts.end(), k)) continue;
    if (k >= names.size()) {
      panic("regressor " + std::to_string(k) + " has no name: only " +
            std::to_string(names.size()) + " names were given");
    }
    const double effect = effects.effects[k];
    const double se = effects.std_errors[k];
    const double z = se > 0.0 ? effect / se : std::numeric_limits<double>::quiet_NaN();
    const double c = kStandardNormal.cdf(std::fabs(z));
    const double p = (1.0 - c) + (1.0 - c);
    rows.push_back({names[k], effect, se, z, p, significance_stars(p)});
  }
  return rows;
}

}  // namespace quillon
