// Writes the exact bits of the kernels' results on the test data, one
// labelled line each, and compares them with the lines another build wrote:
// the same source has to give the same bits under every compiler and on
// every architecture. The C library's exp and log are recorded at the
// arguments the results pass through, so that a difference can be told apart
// as the C library's or the compiled arithmetic's.
//
//   quillon_kernel_digest OUTPUT [REFERENCE]

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "effects/marginal_effects.hpp"
#include "estimation/covariance.hpp"
#include "estimation/probit.hpp"
#include "numerics/cluster_ids.hpp"
#include "numerics/cluster_keys.hpp"
#include "numerics/normal.hpp"
#include "test_data.hpp"

namespace quillon {
namespace {

using test_data::Design;
using test_data::read_csv;
using test_data::score_matrix;
using test_data::seeded_design;

// Hexadecimal floating point: exact, and free of any locale.
std::string bits(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::hex).ptr);
}

class Digest {
 public:
  void add(const std::string& label, const std::vector<double>& values) {
    std::string line = label + ":";
    for (double v : values) line += " " + bits(v);
    lines_.push_back(line);
  }
  void add_rows(const std::string& label, const Matrix& m) {
    for (std::size_t i = 0; i < m.rows(); ++i)
      add(label + " row " + std::to_string(i), std::vector<double>(m.row(i), m.row(i) + m.cols()));
  }
  void add_text(const std::string& label, const std::string& text) {
    lines_.push_back(label + ": " + text);
  }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// C library lines are labelled with the exact arguments of the calls.
void libm_exp(Digest& d, double x) { d.add("libm exp at " + bits(x), {std::exp(x)}); }

void normal_distribution(Digest& d) {
  for (const auto& r : read_csv("erf_reference.csv")) {
    const double z = r[0], a = std::fabs(z);
    d.add("erf z=" + bits(z), {erf_impl(z, false), erf_impl(z, true)});
    libm_exp(d, (-a) * a);
  }
  for (const auto& r : read_csv("normal_reference.csv")) {
    const NormalDistribution normal{r[0], r[1]};
    const double x = r[2], z = (x - normal.mean) / normal.std_dev;
    d.add("normal mean=" + bits(r[0]) + " sd=" + bits(r[1]) + " x=" + bits(x),
          {normal.pdf(x), normal.cdf(x)});
    libm_exp(d, (-0.5 * z) * z);
  }
}

// The log of every clipped response probability and the density of every
// index at beta: the C library calls the fit's sums are built on.
void libm_at_indices(Digest& d, const Design& design, const std::vector<double>& beta) {
  for (std::size_t i = 0; i < design.n; ++i) {
    double index = 0.0;
    for (std::size_t j = 0; j < design.k; ++j) index += design.x[i * design.k + j] * beta[j];
    const double p = clip_probability(kStandardNormal.cdf(index)), q = 1.0 - p;
    d.add("libm log at " + bits(p) + ", " + bits(q), {std::log(p), std::log(q)});
    libm_exp(d, (-0.5 * index) * index);
  }
}

void probit_fit(Digest& d) {
  const Design design = seeded_design();
  const ProbitData data = design.data();
  const std::vector<double> probe{0.1, -0.2, 0.3};
  const ProbitEvaluation at_probe = data.evaluate(probe);
  d.add("loglike at probe", {at_probe.loglike});
  d.add("score at probe", at_probe.score);
  d.add_rows("hessian at probe", at_probe.hessian);
  d.add_rows("scores at probe", score_matrix(data, probe));
  libm_at_indices(d, design, probe);

  const ProbitFit fit = newton_raphson(data, std::nullopt, std::nullopt);
  d.add("fit params", fit.params);
  d.add("fit loglike, iterations, converged",
        {fit.loglike, static_cast<double>(fit.iterations), fit.converged ? 1.0 : 0.0});
  libm_at_indices(d, design, fit.params);

  // The covariances, the inversion of the Hessian included; clusters by the
  // binary regressor.
  const Matrix classical = classical_covariance(fit.hessian).matrix;
  d.add_rows("classical covariance", classical);
  d.add_rows("robust covariance", sandwich(classical, score_cross_product(data, fit.params)));
  const std::vector<std::string> keys = build_cluster_keys(data.exog.row_range(0, design.n));
  for (std::size_t i = 0; i < keys.size(); ++i) d.add_text("key " + std::to_string(i), keys[i]);
  const MatrixView binary{design.x.data() + 2, design.n, 1, static_cast<std::ptrdiff_t>(design.k), 1};
  const Matrix sums = cluster_score_sums(data, fit.params, number_clusters(binary));
  d.add_rows("cluster covariance", sandwich(classical, cluster_cross_product(sums)));

  const MarginalEffects ame =
      average_marginal_effects({fit.params.data(), design.k, 1}, classical.view(), data.exog,
                               {"const", "x1", "d"}, std::nullopt);
  d.add("marginal effects", ame.effects);
  d.add("marginal effect std errors", ame.std_errors);
}

// The label of a line: what was computed, and from which arguments.
std::string label_of(const std::string& line) { return line.substr(0, line.find(':')); }

// Every line that differs from the reference, then where the differences
// come from. A C library line whose argument is the same but whose value is
// not shows the C library at fault; any other difference (an argument
// included) is the compiled arithmetic's. Returns the number of differences.
std::size_t compare(const std::vector<std::string>& mine, const std::string& reference) {
  std::ifstream in(reference);
  if (!in) throw std::runtime_error("cannot read " + reference);
  std::vector<std::string> theirs;
  for (std::string line; std::getline(in, line);) theirs.push_back(line);
  if (theirs.size() != mine.size()) {
    std::cout << reference << " has " << theirs.size() << " lines, this build " << mine.size()
              << ": written from other test data or another version\n";
    return 1;
  }
  std::size_t differ = 0, libm = 0;
  for (std::size_t i = 0; i < mine.size(); ++i) {
    if (mine[i] == theirs[i]) continue;
    ++differ;
    const bool by_libm = mine[i].rfind("libm", 0) == 0 && label_of(mine[i]) == label_of(theirs[i]);
    libm += by_libm;
    std::cout << (by_libm ? "differs (C library): " : "differs: ") << mine[i]
              << "\n    reference: " << theirs[i] << "\n";
  }
  std::cout << "lines that differ: " << differ << " of " << mine.size() << "\n";
  if (libm > 0) {
    std::cout << "The C library's exp or log gives other bits for the same argument on " << libm
              << " of them (marked above): results computed through those calls differ for "
              << "that reason.\n";
  } else if (differ > 0) {
    std::cout << "The C library's exp and log agree wherever their argument is the same: the "
              << "compiled arithmetic differs (a fused multiply-add or a reordered sum; the "
              << "build must use -ffp-contract=off and no -ffast-math).\n";
  }
  return differ;
}

int run(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: " << argv[0] << " OUTPUT [REFERENCE]\n";
    return 2;
  }
  Digest d;
  normal_distribution(d);
  probit_fit(d);
  std::ofstream out(argv[1]);
  for (const auto& line : d.lines()) out << line << "\n";
  if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + argv[1]);
  return argc == 3 && compare(d.lines(), argv[2]) > 0 ? 1 : 0;
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  try {
    return quillon::run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 2;
  }
}
