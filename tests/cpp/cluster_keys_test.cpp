#include "numerics/cluster_keys.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace quillon {
namespace {

struct Rendering {
  double value;
  const char* text;
};

void PrintTo(const Rendering& r, std::ostream* os) { *os << r.value; }

class ClusterValue : public testing::TestWithParam<Rendering> {};

TEST_P(ClusterValue, RendersFixedPointWithFourDecimals) {
  std::string key = "a|";
  append_cluster_value(key, GetParam().value);
  EXPECT_EQ(key, std::string("a|") + GetParam().text);
}

// (2^1024 - 2^971), all 309 digits.
constexpr const char* kLargestDouble =
    "17976931348623157081452742373170435679807056752584499659891747680315726078002853876058955863"
    "27668781715404589535143824642343213268894641827684675467035375169860499105765512820762454900"
    "90389328944075868508455133942304583236903222948165808559332123348274797826204144723168738177"
    "180919299881250404026184124858368.0000";

INSTANTIATE_TEST_SUITE_P(
    Values, ClusterValue,
    testing::Values(Rendering{0.0, "0.0000"}, Rendering{-0.0, "-0.0000"},
                    Rendering{-0.00001, "-0.0000"}, Rendering{1e-7, "0.0000"},
                    Rendering{17.0, "17.0000"}, Rendering{-2.5, "-2.5000"},
                    Rendering{-1.23456789, "-1.2346"},
                    // Binary ties round to even.
                    Rendering{0.03125, "0.0312"}, Rendering{0.09375, "0.0938"},
                    // Decimal "ties" are decided by the binary value: 2.00005 is
                    // stored just below the midpoint, 1.00005 and 0.00005 above.
                    Rendering{2.00005, "2.0000"}, Rendering{1.00005, "1.0001"},
                    Rendering{0.00005, "0.0001"}, Rendering{2.00004, "2.0000"},
                    Rendering{2.00001, "2.0000"}, Rendering{1e20, "100000000000000000000.0000"},
                    Rendering{std::numeric_limits<double>::max(), kLargestDouble},
                    Rendering{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                    Rendering{std::numeric_limits<double>::infinity(), "inf"},
                    Rendering{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(BuildClusterKeys, JoinsEachRowWithBars) {
  // Column-major storage of [[3, 0.5, -1], [7, 2.25, 1e-9]].
  const std::vector<double> cm{3, 7, 0.5, 2.25, -1, 1e-9};
  EXPECT_EQ(build_cluster_keys(MatrixView{cm.data(), 2, 3, 1, 2}),
            (std::vector<std::string>{"3.0000|0.5000|-1.0000", "7.0000|2.2500|0.0000"}));
  EXPECT_EQ(build_cluster_keys(MatrixView{cm.data(), 3, 1, 1, 3}),
            (std::vector<std::string>{"3.0000", "7.0000", "0.5000"}));
  EXPECT_EQ(build_cluster_keys(MatrixView{cm.data(), 2, 0, 0, 1}),
            (std::vector<std::string>{"", ""}));
  EXPECT_TRUE(build_cluster_keys(MatrixView{cm.data(), 0, 3, 3, 1}).empty());
}

// The keys must not depend on the C locale of the host process.
TEST(BuildClusterKeys, IgnoresCommaDecimalLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  bool comma = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
    comma = std::setlocale(LC_ALL, name) != nullptr &&
            std::string(std::localeconv()->decimal_point) == ",";
    if (comma) break;
  }
  std::vector<std::string> keys;
  if (comma) {
    const std::vector<double> values{1234567.5, -0.25};
    keys = build_cluster_keys(MatrixView{values.data(), 1, 2, 2, 1});
  }
  std::setlocale(LC_ALL, saved.c_str());
  if (!comma) GTEST_SKIP() << "no comma-decimal locale installed";
  EXPECT_EQ(keys, std::vector<std::string>{"1234567.5000|-0.2500"});
}

}  // namespace
}  // namespace quillon
