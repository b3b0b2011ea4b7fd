// Average marginal effects: the kinds of regressors, the effects and standard
// errors against the sums formed here chunk by chunk in the documented order
// (the same bits), and their Jacobian against finite differences.
#include "effects/marginal_effects.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "numerics/normal.hpp"
#include "numerics/panic.hpp"
#include "test_data.hpp"

namespace quillon {
namespace {

using test_data::Design;
using test_data::random_design;
using test_data::same_doubles;
using Chunk = std::optional<std::uint64_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

MatrixView row_major(const std::vector<double>& x, std::size_t rows, std::size_t cols) {
  return {x.data(), rows, cols, static_cast<std::ptrdiff_t>(cols), 1};
}

TEST(InterceptNames, ConstOrInterceptInAnyLetterCase) {
  for (const char* name :
       {"const", "CONST", "Const", "cOnSt", "intercept", "INTERCEPT", "Intercept", "interCEPT"})
    EXPECT_TRUE(is_intercept_name(name)) << name;
  // Dotted capital I lowers to i and a combining dot; full-width letters stay
  // full-width.
  for (const char* name : {"", "constant", "cons", " const", "const ", "const1", "_const",
                           "intercept_", "x0", "\u0130ntercept", "\uFF43onst", "const\n"})
    EXPECT_FALSE(is_intercept_name(name)) << name;
  EXPECT_FALSE(is_intercept_name(std::string("const\0", 6)));
  EXPECT_EQ(find_intercepts({"x0", "const", "x2", "Intercept", "constant"}),
            (std::vector<std::size_t>{1, 3}));
  EXPECT_TRUE(find_intercepts({"x0", "x1"}).empty());
}

TEST(BinaryRegressors, EveryValueExactlyZeroOrOne) {
  const double above_one = std::nextafter(1.0, 2.0);
  // Columns by name; only the x's whose every value is 0.0 or 1.0 are binary,
  // and the intercept is never a binary regressor.
  const std::vector<std::string> names{"x0", "x1", "x2", "x3", "x4",   "x5",
                                       "x6", "x7", "x8", "x9", "const"};
  const std::vector<std::vector<double>> columns{
      {0, 1, 1, 0},   {-0.0, 1, 0, -0.0}, {1, 1, 1, 1},         {0, 0, 0, 0},
      {0, 1, 2, 1},   {0, kNaN, 1, 1},    {0, 1, above_one, 0}, {0, 1, kInf, 1},
      {0, 1, 1, 0.5}, {2, 0, 1, 0},       {0, 1, 1, 0}};
  const std::size_t n = 4, k = columns.size();
  std::vector<double> by_rows(n * k), by_columns;
  for (std::size_t j = 0; j < k; ++j) {
    by_columns.insert(by_columns.end(), columns[j].begin(), columns[j].end());
    for (std::size_t i = 0; i < n; ++i) by_rows[i * k + j] = columns[j][i];
  }
  const std::vector<std::size_t> intercepts = find_intercepts(names);
  const std::vector<std::size_t> binary{0, 1, 2, 3};
  EXPECT_EQ(find_binary(row_major(by_rows, n, k), names, intercepts), binary);
  const auto column_stride = static_cast<std::ptrdiff_t>(n);
  EXPECT_EQ(find_binary({by_columns.data(), n, k, 1, column_stride}, names, intercepts), binary);

  // With no observations every regressor is binary.
  EXPECT_EQ(find_binary(row_major(by_rows, 0, k), names, intercepts),
            (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

  // A name without a column is a broken invariant, unless it names an
  // intercept, which needs no column.
  std::vector<std::string> more = names;
  more.push_back("Intercept");
  EXPECT_EQ(find_binary(row_major(by_rows, n, k), more, find_intercepts(more)), binary);
  more.push_back("x11");
  EXPECT_THROW(find_binary(row_major(by_rows, n, k), more, find_intercepts(more)), Panic);
}

enum class Kind { kIntercept, kBinary, kContinuous };

// Columns: an intercept, a continuous regressor, a 0/1 regressor whose zeros
// are partly -0.0, a column of zeros, a column of ones under an ordinary name,
// and small counts 0, 1, 2 (continuous).
struct EffectsDesign {
  Design d;
  std::vector<std::string> names{"Intercept", "x1", "d", "zeros", "ones", "count"};
  std::vector<Kind> kinds{Kind::kIntercept, Kind::kContinuous, Kind::kBinary,
                          Kind::kBinary,    Kind::kBinary,     Kind::kContinuous};
  Matrix cov;

  explicit EffectsDesign(std::size_t n) : d{n, 6, {}, {}}, cov(6, 6) {
    const Design base = random_design(n, 3, 5);
    for (std::size_t i = 0; i < n; ++i) {
      const double b = base.x[i * 3 + 2];
      const double binary = b == 0.0 && i % 3 == 0 ? -0.0 : b;
      d.x.insert(d.x.end(), {1.0, base.x[i * 3 + 1], binary, 0.0, 1.0, double(i % 3)});
    }
    // B B' / 6 for B uniform on [-1, 1]: a covariance matrix.
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Matrix b(6, 6);
    for (std::size_t i = 0; i < 36; ++i) b(i / 6, i % 6) = uniform(rng);
    for (std::size_t r = 0; r < 6; ++r)
      for (std::size_t c = 0; c < 6; ++c)
        for (std::size_t l = 0; l < 6; ++l) cov(r, c) += b(r, l) * b(c, l) / 6;
  }
  MatrixView exog() const { return row_major(d.x, d.n, d.k); }
};

// Ordinary coefficients; one that puts the 0/1 regressor's probabilities in
// the far tails; a NaN that makes every effect NaN.
const std::vector<std::vector<double>> kBetas{{0.3, 0.8, -0.5, 0.25, 0.4, -0.2},
                                              {0.3, 0.8, 40.0, 0.25, 0.4, -0.2},
                                              {0.3, 0.8, -0.5, 0.25, 0.4, kNaN}};

MarginalEffects effects_of(const EffectsDesign& e, const std::vector<double>& beta,
                           const MatrixView& cov, Chunk chunk = std::nullopt) {
  return average_marginal_effects({beta.data(), beta.size(), 1}, cov, e.exog(), e.names, chunk);
}

// The effects and their standard errors, chunks of m rows at a time: each
// chunk's sums formed from 0.0 in row order, then added to the totals.
MarginalEffects expected_effects(const EffectsDesign& e, const std::vector<double>& beta,
                                 std::size_t m) {
  const Design& d = e.d;
  const std::size_t k = d.k;
  auto x = [&d](std::size_t i, std::size_t j) { return d.x[i * d.k + j]; };
  const NormalDistribution& normal = kStandardNormal;
  std::vector<double> ame(k, 0.0);
  Matrix jac(k, k);
  for (std::size_t s = 0; s < d.n; s += m) {
    const std::size_t end = s + std::min(m, d.n - s);
    std::vector<double> q;
    for (std::size_t i = s; i < end; ++i) {
      double index = 0.0;
      for (std::size_t j = 0; j < k; ++j) index = index + x(i, j) * beta[j];
      q.push_back(index);
    }
    for (std::size_t j = 0; j < k; ++j) {
      const double b = beta[j];
      if (e.kinds[j] == Kind::kBinary) {
        double cdf1 = 0.0, cdf0 = 0.0, pdf1 = 0.0;
        std::vector<double> diff(k, 0.0);
        for (std::size_t i = s; i < end; ++i) {
          const double q1 = q[i - s] + (1.0 - x(i, j)) * b;
          const double q0 = q[i - s] + (-x(i, j)) * b;
          cdf1 = cdf1 + normal.cdf(q1);
          cdf0 = cdf0 + normal.cdf(q0);
          pdf1 = pdf1 + normal.pdf(q1);
          for (std::size_t l = 0; l < k; ++l)
            diff[l] = diff[l] + (normal.pdf(q1) - normal.pdf(q0)) * x(i, l);
        }
        ame[j] = (cdf1 - cdf0) + ame[j];
        for (std::size_t l = 0; l < k; ++l) jac(j, l) = (l == j ? pdf1 : diff[l]) + jac(j, l);
      } else if (e.kinds[j] == Kind::kContinuous) {
        double density = 0.0;
        std::vector<double> index_density(k, 0.0);
        for (std::size_t i = s; i < end; ++i) {
          const double phi = normal.pdf(q[i - s]);
          density = density + phi;
          for (std::size_t l = 0; l < k; ++l)
            index_density[l] = index_density[l] + (q[i - s] * x(i, l)) * phi;
        }
        ame[j] = density * b + ame[j];
        for (std::size_t l = 0; l < k; ++l) {
          const double term = l == j ? density - b * index_density[l] : -(b * index_density[l]);
          jac(j, l) = term + jac(j, l);
        }
      }
    }
  }
  MarginalEffects want;
  const auto n = static_cast<double>(d.n);
  for (std::size_t r = 0; r < k; ++r) {
    want.effects.push_back(ame[r] / n);
    for (std::size_t c = 0; c < k; ++c) jac(r, c) = jac(r, c) / n;
  }
  // The diagonal of (J C) J'.
  for (std::size_t r = 0; r < k; ++r) {
    double variance = 0.0;
    for (std::size_t c = 0; c < k; ++c) {
      double jc = 0.0;
      for (std::size_t l = 0; l < k; ++l) jc = jc + jac(r, l) * e.cov(l, c);
      variance = variance + jc * jac(r, c);
    }
    want.std_errors.push_back(std::sqrt(variance > 0.0 ? variance : 0.0));
  }
  return want;
}

class EffectChunks : public testing::TestWithParam<Chunk> {};

// Rows are also taken 128 at a time within a chunk: sizes on either side.
TEST_P(EffectChunks, SameBitsAsChunkSumsInOrder) {
  const EffectsDesign e(300);
  const std::size_t m = std::min<std::uint64_t>(GetParam().value_or(e.d.n), e.d.n);
  std::vector<double> by_columns;
  for (std::size_t j = 0; j < e.d.k; ++j)
    for (std::size_t i = 0; i < e.d.n; ++i) by_columns.push_back(e.d.x[i * e.d.k + j]);
  const MatrixView column_major{by_columns.data(), e.d.n, e.d.k, 1,
                                static_cast<std::ptrdiff_t>(e.d.n)};
  for (const std::vector<double>& beta : kBetas) {
    const MarginalEffects want = expected_effects(e, beta, m);
    const MarginalEffects got = effects_of(e, beta, e.cov.view(), GetParam());
    EXPECT_PRED2(same_doubles, got.effects, want.effects);
    EXPECT_PRED2(same_doubles, got.std_errors, want.std_errors);
    EXPECT_EQ(got.intercept_indices, std::vector<std::size_t>{0});
    const MarginalEffects transposed = average_marginal_effects(
        {beta.data(), beta.size(), 1}, e.cov.view(), column_major, e.names, GetParam());
    EXPECT_PRED2(same_doubles, transposed.effects, got.effects);
    EXPECT_PRED2(same_doubles, transposed.std_errors, got.std_errors);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, EffectChunks,
                         testing::Values(Chunk{}, Chunk{1}, Chunk{7}, Chunk{128}, Chunk{129},
                                         Chunk{299}, Chunk{300}, Chunk{301},
                                         Chunk{std::numeric_limits<std::uint64_t>::max()}));

// With C the unit matrix at (l, l), se_r = |J[r][l]| = |d ame_r / d beta_l|,
// which central differences of the effects approximate.
TEST(EffectJacobian, MatchesCentralDifferences) {
  const EffectsDesign e(300);
  const std::vector<double>& beta = kBetas[0];
  const double h = 1e-5;
  for (std::size_t l = 0; l < e.d.k; ++l) {
    Matrix unit(e.d.k, e.d.k);
    unit(l, l) = 1.0;
    std::vector<double> up = beta, down = beta;
    up[l] += h;
    down[l] -= h;
    const std::vector<double> ame_up = effects_of(e, up, unit.view()).effects;
    const std::vector<double> ame_down = effects_of(e, down, unit.view()).effects;
    const std::vector<double> se = effects_of(e, beta, unit.view()).std_errors;
    for (std::size_t r = 0; r < e.d.k; ++r) {
      const double slope = std::fabs((ame_up[r] - ame_down[r]) / (2 * h));
      EXPECT_NEAR(se[r], slope, 1e-6 * slope + 1e-8) << "effect " << r << ", coefficient " << l;
    }
  }
}

TEST(EffectStandardErrors, NeverNaNOrNegative) {
  const EffectsDesign e(300);
  const std::vector<double>& beta = kBetas[0];
  const std::vector<double> effects = effects_of(e, beta, e.cov.view()).effects;
  const std::vector<double> zeros(e.d.k, 0.0);
  // A zero covariance, and one that is not positive semi-definite: the
  // variances come out 0 and negative.
  Matrix negative = Matrix::identity(e.d.k);
  for (std::size_t j = 0; j < e.d.k; ++j) negative(j, j) = -1.0;
  for (const Matrix& cov : {Matrix(e.d.k, e.d.k), negative}) {
    const MarginalEffects got = effects_of(e, beta, cov.view());
    EXPECT_PRED2(same_doubles, got.std_errors, zeros);
    EXPECT_PRED2(same_doubles, got.effects, effects);
  }
  // No observations: every effect is 0 / 0, whatever the chunk size.
  const EffectsDesign none(0);
  for (const Chunk chunk : {Chunk{}, Chunk{0}, Chunk{5}}) {
    const MarginalEffects got = effects_of(none, beta, none.cov.view(), chunk);
    EXPECT_PRED2(same_doubles, got.effects, std::vector<double>(e.d.k, kNaN));
    EXPECT_PRED2(same_doubles, got.std_errors, zeros);
  }
}

TEST(EffectSizes, InconsistentSizesPanic) {
  const EffectsDesign e(10);
  const std::vector<double> beta = kBetas[0];
  const std::vector<double> short_beta(beta.begin(), beta.end() - 1);
  const Matrix small(5, 5), wide(6, 7);
  std::vector<std::string> more_names = e.names;
  more_names.push_back("x6");
  const std::vector<std::string> fewer_names(e.names.begin(), e.names.end() - 1);
  auto run = [&](const std::vector<double>& b, const Matrix& cov,
                 const std::vector<std::string>& names, Chunk chunk) {
    average_marginal_effects({b.data(), b.size(), 1}, cov.view(), e.exog(), names, chunk);
  };
  EXPECT_THROW(run(short_beta, e.cov, e.names, std::nullopt), Panic);
  EXPECT_THROW(run(beta, small, e.names, std::nullopt), Panic);
  EXPECT_THROW(run(beta, wide, e.names, std::nullopt), Panic);
  EXPECT_THROW(run(beta, e.cov, more_names, std::nullopt), Panic);
  EXPECT_THROW(run(beta, e.cov, e.names, 0), Panic);
  // Fewer names than columns is left to the table, which needs the names of
  // the rows it shows.
  EXPECT_NO_THROW(run(beta, e.cov, fewer_names, std::nullopt));
}

}  // namespace
}  // namespace quillon
