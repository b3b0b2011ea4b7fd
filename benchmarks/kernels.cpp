// The per-observation kernels and one pass of the fit, per kernels path
// (scalar, four-lane, eight-lane), timed in turns in one process: medians
// and minima of the rounds.
//
//   make cpp-test
//   g++ -std=c++20 -O3 -ffp-contract=off -Isrc -o build/kernels_bench
//       benchmarks/kernels.cpp build/cpp/libquillon_core.a
//   taskset -c 1 build/kernels_bench kernels [rounds]
//   taskset -c 1 build/kernels_bench pass [rounds] [k] [n] [eight_lanes_from] [mirrored]
//
// kernels: ns per value of cdf_values and pdf_values on N(0.3, 1.2) inputs
// and of log_values on their clipped cdf, 128 values per call (a batch of
// the fit's sweep), 4096 values in all (in the first level of the cache).
// pass: ms per ProbitData::evaluate at beta = 0.1 on a design of a constant
// and alternately N(0, 1) and 0/1 columns, on the process's vector unit and
// sweep width (or eight-lane sweeps from the regressor count given); with
// `mirrored`, the part kernels' Hessian (upper tiles, fused, mirrored).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "estimation/probit.hpp"
#include "numerics/kernels.hpp"
#include "numerics/normal.hpp"
#include "numerics/simd/code_paths.hpp"

using namespace quillon;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kPathNames[] = {"scalar", "four-lane", "eight-lane"};

void print(const char* what, std::vector<double> v, const char* unit) {
  std::sort(v.begin(), v.end());
  std::printf("%-26s median %8.3f  min %8.3f %s\n", what, v[v.size() / 2], v.front(), unit);
}

void kernels(int rounds) {
  const std::size_t n = 4096, batch = 128;
  const int repeats = 200;
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal(0.3, 1.2);
  std::vector<double> z(n), p(n), out(n);
  for (double& v : z) v = normal(rng);
  for (std::size_t i = 0; i < n; ++i) p[i] = clip_probability(kStandardNormal.cdf(z[i]));
  using Values = void (*)(const double*, double*, std::size_t, Kernels);
  const struct {
    const char* name;
    Values f;
    const std::vector<double>& in;
  } functions[] = {{"cdf", cdf_values, z}, {"pdf", pdf_values, z}, {"log", log_values, p}};
  std::vector<double> ns[3][3];
  for (int r = 0; r < rounds; ++r) {
    for (int f = 0; f < 3; ++f) {
      for (int k = 0; k < 3; ++k) {
        const auto t0 = Clock::now();
        for (int i = 0; i < repeats; ++i) {
          for (std::size_t s = 0; s < n; s += batch)
            functions[f].f(functions[f].in.data() + s, out.data() + s, batch, Kernels(k));
        }
        const std::chrono::duration<double, std::nano> t = Clock::now() - t0;
        ns[f][k].push_back(t.count() / (double(repeats) * n));
      }
    }
  }
  for (int f = 0; f < 3; ++f) {
    for (int k = 0; k < 3; ++k) {
      print((std::string(functions[f].name) + " " + kPathNames[k]).c_str(), ns[f][k],
            "ns per value");
    }
  }
}

void pass(int rounds, std::size_t k, std::size_t n, std::size_t eight_lanes_from,
          HessianForm form) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  std::bernoulli_distribution coin;
  std::vector<double> y(n), x(n * k);
  for (std::size_t i = 0; i < n; ++i) {
    double index = normal(rng);
    for (std::size_t j = 0; j < k; ++j) {
      const double v = j == 0 ? 1.0 : j % 2 == 1 ? normal(rng) : coin(rng) ? 1.0 : 0.0;
      x[i * k + j] = v;
      index += 0.1 * v;
    }
    y[i] = index > 0.0 ? 1.0 : 0.0;
  }
  const ProbitData data{{y.data(), n, 1}, {x.data(), n, k, static_cast<std::ptrdiff_t>(k), 1}};
  const std::vector<double> beta(k, 0.1);
  std::vector<double> ms[3];
  for (int r = 0; r < rounds; ++r) {
    for (int kernels = 0; kernels < 3; ++kernels) {
      CodePaths paths = code_paths();
      paths.kernels = Kernels(kernels);
      if (eight_lanes_from != 0) paths.eight_lanes_from = eight_lanes_from;
      const CodePathsOverride use(paths);
      const auto t0 = Clock::now();
      data.evaluate(beta, form);
      const std::chrono::duration<double, std::milli> t = Clock::now() - t0;
      ms[kernels].push_back(t.count());
    }
  }
  for (int kernels = 0; kernels < 3; ++kernels) {
    const std::string what = "pass k=" + std::to_string(k) + " " + kPathNames[kernels];
    print(what.c_str(), ms[kernels], "ms");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "kernels";
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  if (mode == "kernels") {
    kernels(rounds);
  } else {
    const std::size_t k = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 10;
    const std::size_t n = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1000000;
    const bool mirrored = argc > 6 && std::string(argv[6]) == "mirrored";
    pass(rounds, k, n, argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 0,
         mirrored ? HessianForm::kMirrored : HessianForm::kFull);
  }
  return 0;
}
