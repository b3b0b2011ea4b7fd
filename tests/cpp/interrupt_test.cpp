#include "numerics/interrupt.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "effects/marginal_effects.hpp"
#include "numerics/cluster_ids.hpp"
#include "estimation/covariance.hpp"
#include "estimation/probit.hpp"

namespace quillon {
namespace {

int polls = 0;
bool count_and_stop() {
  ++polls;
  return true;
}

// Whether `run` was stopped, and by its first poll.
bool stopped(const std::function<void()>& run) {
  polls = 0;
  try {
    run();
  } catch (const Interrupted&) {
    return polls == 1;
  }
  return false;
}

// A loop over the observations polls once it passes kRowsPerPoll rows, and
// never before: the loops of an ordinary fit pay nothing for it.
TEST(InterruptTest, RowLoopsPollEveryKRowsPerPollRows) {
  const InterruptPoll stop(count_and_stop);
  for (const std::size_t n : {kRowsPerPoll, kRowsPerPoll + 1}) {
    SCOPED_TRACE(n);
    const std::vector<double> y(n, 1.0), x(n, 0.5), beta{0.25}, cov{1.0};
    const ProbitData data{{y.data(), n, 1}, {x.data(), n, 1, 1, 1}, stop};
    const std::vector<std::string> names{"x0"};
    const bool long_loop = n > kRowsPerPoll;
    EXPECT_EQ(stopped([&] { data.evaluate(beta); }), long_loop);
    EXPECT_EQ(stopped([&] { score_cross_product(data, beta); }), long_loop);
    // 0.5 is no integer, so the clusters are told apart by text keys; y is
    // a 0/1 column that the search for binary regressors reads to the end.
    EXPECT_EQ(stopped([&] { number_clusters(data.exog, stop); }), long_loop);
    EXPECT_EQ(stopped([&] { number_clusters({y.data(), n, 1, 1, 1}, stop); }), long_loop);
    EXPECT_EQ(stopped([&] { find_binary({y.data(), n, 1, 1, 1}, names, {}, stop); }), long_loop);
    for (const std::optional<std::uint64_t> chunk : {std::optional<std::uint64_t>{}, {1000}}) {
      EXPECT_EQ(stopped([&] {
                  average_marginal_effects({beta.data(), 1, 1}, {cov.data(), 1, 1, 1, 1}, data.exog,
                                           names, chunk, stop);
                }),
                long_loop);
    }
  }
}

TEST(InterruptTest, NewtonRaphsonPollsBeforeEveryPass) {
  const std::vector<double> y{0.0, 1.0, 1.0}, x{1.0, 1.0, 1.0};
  const ProbitData data{{y.data(), 3, 1}, {x.data(), 3, 1, 1, 1}, InterruptPoll(count_and_stop)};
  EXPECT_FALSE(stopped([&] { newton_raphson(data, 0, 0.0); }));
  EXPECT_TRUE(stopped([&] { newton_raphson(data, 1, 0.0); }));
}

}  // namespace
}  // namespace quillon
