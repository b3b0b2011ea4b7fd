#include "estimation/probit.hpp"
#include "test_data.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <numbers>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace quillon {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Lines of a CSV file in the test data directory, split into cells.
std::vector<std::vector<std::string>> read_cells(const std::string& name) {
  std::ifstream in(std::string(QUILLON_TEST_DATA_DIR) + "/" + name);
  EXPECT_TRUE(in) << name;
  std::vector<std::vector<std::string>> rows;
  std::string line, cell;
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    auto& row = rows.emplace_back();
    while (std::getline(cells, cell, ',')) row.push_back(cell);
  }
  return rows;
}

double number(const std::string& s) {
  double v = kNaN;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

using test_data::Design;
using test_data::flat;
using test_data::score_matrix;
using test_data::seeded_design;

// Reference fits, derivatives and pass counts, keyed by each line's first cell.
std::map<std::string, std::vector<double>> reference() {
  std::map<std::string, std::vector<double>> ref;
  for (const auto& row : read_cells("probit_reference.csv"))
    for (std::size_t j = 1; j < row.size(); ++j) ref[row[0]].push_back(number(row[j]));
  return ref;
}

ProbitFit fit(const ProbitData& data, std::string& diagnostics,
              std::optional<std::uint64_t> max_iter = std::nullopt,
              std::optional<double> tol = std::nullopt) {
  CaptureStderr();
  ProbitFit f = newton_raphson(data, max_iter, tol);
  diagnostics = GetCapturedStderr();
  return f;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void expect_identical(const ProbitFit& a, const ProbitFit& b) {
  EXPECT_TRUE(same_bits(a.params, b.params));
  EXPECT_TRUE(same_bits({a.loglike}, {b.loglike}));
  EXPECT_EQ(a.iterations, b.iterations);
  EXPECT_EQ(a.converged, b.converged);
}

// Each entry within rel of the larger of its own size and `scale`: entries that
// are small only through cancellation get the absolute error of the whole sum.
void expect_rel(const std::vector<double>& actual, const std::vector<double>& expected, double rel,
                double scale = 0.0) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], rel * std::max(std::fabs(expected[i]), scale) + 1e-12)
        << "entry " << i;
}

TEST(NewtonRaphson, SeededDesignMatchesStatsmodels) {
  const Design d = seeded_design();
  auto ref = reference();
  const auto passes = static_cast<std::uint64_t>(ref["fit_iterations"].at(0));
  ASSERT_GE(passes, 3u);
  std::string err;
  const ProbitFit f = fit(d.data(), err);
  EXPECT_TRUE(f.converged);
  EXPECT_EQ(f.iterations, passes);
  expect_rel(f.params, ref["fit_params"], 1e-8);
  expect_rel({f.loglike}, ref["fit_loglike"], 1e-10);
  EXPECT_EQ(err, "");
  // The defaults are 35 passes and 1e-6; one pass fewer than needed stops short.
  expect_identical(fit(d.data(), err, 35, 1e-6), f);
  expect_identical(fit(d.data(), err, passes + 1), f);
  const ProbitFit short_fit = fit(d.data(), err, passes);
  EXPECT_FALSE(short_fit.converged);
  EXPECT_EQ(short_fit.iterations, passes - 1);
}

TEST(ProbitData, DerivativesMatchStatsmodels) {
  const Design d = seeded_design();
  auto ref = reference();
  const std::vector<double>& beta = ref["probe_beta"];
  const ProbitData data = d.data();
  const ProbitEvaluation e = data.evaluate(beta);
  expect_rel({e.loglike}, ref["probe_loglike"], 1e-10);
  expect_rel(e.score, ref["probe_score"], 1e-9);
  double scale = 0.0;
  for (double v : ref["probe_hessian"]) scale = std::max(scale, std::fabs(v));
  expect_rel(flat(e.hessian), ref["probe_hessian"], 1e-9, scale);
  std::vector<double> score_obs;
  const auto rows = read_cells("probit_score_obs.csv");
  for (std::size_t i = 1; i < rows.size(); ++i)
    for (const auto& cell : rows[i]) score_obs.push_back(number(cell));
  const Matrix s = score_matrix(data, beta);
  EXPECT_EQ(s.rows(), d.n);
  expect_rel(flat(s), score_obs, 1e-9);
}

// y = (1, 0) on x = (1, -1) has no maximum: the log-likelihood creeps up to 0
// by a factor of about 3 a pass until the change drops below the tolerance.
TEST(NewtonRaphson, SeparatedDataStopsOnDefaultTolerance) {
  const Design d{2, 1, {1, 0}, {1, -1}};
  std::string err;
  const ProbitFit f = fit(d.data(), err);
  EXPECT_TRUE(f.converged);
  EXPECT_EQ(f.iterations, static_cast<std::uint64_t>(reference()["separated_iterations"].at(0)));
  EXPECT_GT(f.params.at(0), 4.0);
  EXPECT_LT(f.loglike, 0.0);
  EXPECT_GT(f.loglike, -1e-6);
  EXPECT_EQ(err, "");
}

struct OptionsCase {
  const char* name;
  std::optional<std::uint64_t> max_iter;
  std::optional<double> tol;
  bool converged;
  std::uint64_t iterations;
};

void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class NewtonOptions : public testing::TestWithParam<OptionsCase> {};

// Passes that stop before convergence leave the last step's estimate; with a
// tolerance nothing can undercut, every pass runs.
TEST_P(NewtonOptions, StopsWhereExpected) {
  const OptionsCase& c = GetParam();
  const Design d = seeded_design();
  std::string err;
  const ProbitFit f = fit(d.data(), err, c.max_iter, c.tol);
  EXPECT_EQ(f.converged, c.converged);
  EXPECT_EQ(f.iterations, c.iterations);
  EXPECT_EQ(err, "");
  ASSERT_EQ(f.params.size(), 3u);
  EXPECT_TRUE(same_bits({f.loglike}, {d.data().evaluate(f.params).loglike}));
  if (c.max_iter == 0u) {
    EXPECT_EQ(f.params, (std::vector<double>{0, 0, 0}));
    EXPECT_NEAR(f.loglike, d.n * std::log(0.5), 1e-12);
  } else if (c.iterations >= 5) {
    expect_rel(f.params, reference()["fit_params"], 1e-8);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewtonOptions,
    testing::Values(OptionsCase{"no_passes", 0, std::nullopt, false, 0},
                    OptionsCase{"one_pass", 1, std::nullopt, false, 0},
                    OptionsCase{"two_passes", 2, std::nullopt, false, 1},
                    OptionsCase{"default_passes", std::nullopt, 0.0, false, 34},
                    OptionsCase{"infinite_tol", std::nullopt, INFINITY, true, 0},
                    OptionsCase{"zero_tol", 10, 0.0, false, 9},
                    OptionsCase{"negative_tol", 10, -1.0, false, 9},
                    OptionsCase{"nan_tol", 10, kNaN, false, 9}),
    [](const testing::TestParamInfo<OptionsCase>& info) { return info.param.name; });

struct SingularCase {
  const char* name;
  Design design;
  std::uint64_t iterations;  // also the pass named in the diagnostic
  std::vector<double> params;
  double loglike;
};

void PrintTo(const SingularCase& c, std::ostream* os) { *os << c.name; }

class SingularHessian : public testing::TestWithParam<SingularCase> {};

TEST_P(SingularHessian, ReportsAndKeepsTheLastEstimate) {
  const SingularCase& c = GetParam();
  std::string err;
  const ProbitFit f = fit(c.design.data(), err);
  EXPECT_EQ(err, "Hessian near singular at iteration " + std::to_string(c.iterations) + "\n");
  EXPECT_FALSE(f.converged);
  EXPECT_EQ(f.iterations, c.iterations);
  expect_rel(f.params, c.params, 1e-12);
  expect_rel({f.loglike}, {c.loglike}, 1e-9);
}

// Two mirrored observations at +-1e-7: the first Hessian is
// -2 (2 phi(0))^2 1e-14 = -1.27e-14, just invertible, and the step lands on
// beta = sqrt(pi / 2) / 1e-7, where the Hessian shrinks to about -5.9e-15.
const double kStep = std::sqrt(std::numbers::pi / 2);
const double kStepLoglike = 2 * std::log(0.5 * std::erfc(-kStep / std::numbers::sqrt2));

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, SingularHessian,
    testing::Values(
        SingularCase{"zero_column", {4, 2, {1, 0, 1, 1}, {1, 0, -1, 0, 2, 0, 0.5, 0}}, 0, {0, 0},
                     4 * std::log(0.5)},
        SingularCase{"no_observations", {0, 2, {}, {}}, 0, {0, 0}, 0.0},
        SingularCase{"vanishing_curvature", {2, 1, {1, 0}, {1e-7, -1e-7}}, 1, {kStep / 1e-7},
                     kStepLoglike}),
    [](const testing::TestParamInfo<SingularCase>& info) { return info.param.name; });
// clang-format on

// A NaN regressor makes the first Hessian all NaN, which still "inverts"; every
// probability is then clipped to 1e-15, and the second pass sees no change.
TEST(NewtonRaphson, NaNRegressorConvergesToNaN) {
  Design d = seeded_design();
  d.x[5 * d.k + 1] = kNaN;
  std::string err;
  const ProbitFit f = fit(d.data(), err);
  EXPECT_EQ(err, "");
  EXPECT_TRUE(f.converged);
  EXPECT_EQ(f.iterations, 1u);
  for (double b : f.params) EXPECT_TRUE(std::isnan(b));
  EXPECT_NEAR(f.loglike, d.n * std::log(1e-15), 1e-9);
}

// A NaN index counts as ln(1e-15), never NaN; a certain outcome is capped at
// 1 - 1e-15 (to within the spacing of doubles near 1); y = 0.5 makes q = 0:
// ln 0.5 and no score or curvature.
TEST(ProbitData, ProbabilitiesAreClippedAndHalfOutcomesAreNeutral) {
  const Design one{1, 2, {1}, {1, 2}};
  EXPECT_DOUBLE_EQ(one.data().evaluate({kNaN, 0}).loglike, -34.538776394910684);
  EXPECT_NEAR(one.data().evaluate({0, 20}).loglike, -1e-15, 1e-16);

  const Design d = seeded_design();
  Design half = d;
  half.y.push_back(0.5);
  half.x.insert(half.x.end(), {1, 2, 1});
  ++half.n;
  const std::vector<double> beta{0.1, -0.2, 0.3};
  const ProbitData data = d.data(), half_data = half.data();
  const ProbitEvaluation e = data.evaluate(beta), half_e = half_data.evaluate(beta);
  EXPECT_EQ(half_e.loglike, e.loglike + std::log(0.5));
  EXPECT_EQ(half_e.score, e.score);
  EXPECT_EQ(flat(half_e.hessian), flat(e.hessian));
  const Matrix s = score_matrix(half_data, beta);
  EXPECT_EQ(std::vector<double>(s.row(d.n), s.row(d.n) + 3), (std::vector<double>{0, 0, 0}));
}

// Rows of X past n and other memory layouts of the same numbers leave the fit
// unchanged bit for bit.
TEST(NewtonRaphson, LayoutAndUnusedRowsDoNotMatter) {
  const Design d = seeded_design();
  std::string err;
  const ProbitFit base = fit(d.data(), err);

  Design padded = d;
  padded.x.insert(padded.x.end(), {kNaN, 1e300, -7, 3, 3, 3});
  ProbitData padded_data = padded.data();
  padded_data.exog.rows += 2;
  expect_identical(fit(padded_data, err), base);
  EXPECT_EQ(score_matrix(padded_data, {0.1, 0.2, 0.3}).rows(), d.n);

  // Column-major X read through reversed axes, and y at stride -2.
  std::vector<double> x_rev(d.x.size()), y_rev(2 * d.n, kNaN);
  for (std::size_t i = 0; i < d.n; ++i) {
    y_rev[2 * (d.n - 1 - i)] = d.y[i];
    for (std::size_t j = 0; j < d.k; ++j)
      x_rev[(d.k - 1 - j) * d.n + (d.n - 1 - i)] = d.x[i * d.k + j];
  }
  const auto n = static_cast<std::ptrdiff_t>(d.n);
  const ProbitData reversed{{y_rev.data() + 2 * (n - 1), d.n, -2},
                            {x_rev.data() + x_rev.size() - 1, d.n, d.k, -1, -n}};
  expect_identical(fit(reversed, err), base);
}

}  // namespace
}  // namespace quillon
