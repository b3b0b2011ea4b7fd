// The normal distribution on the module's own error function.
//
// erf and erfc are piecewise rational approximations: one piece for erf on
// [0, 0.5) and thirteen pieces for erfc on [0.5, 110), each an offset plus a
// small rational correction, after the Boost.Math error-function scheme.
// Results follow these tables exactly, not the C library's erf or erfc, so
// every caller sees the same bits on every platform.
//
// The error quoted beside each table is the largest relative error of the
// whole evaluation in doubles (exp included) against erf or erfc at 40
// digits, over 20,000 random points of the interval and the 100 doubles
// nearest its edges (tests/cpp/data/measure_erf_accuracy.py). The erfc pieces
// are least accurate just above their lower edges.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace quillon {

namespace erf_detail {

// Polynomial with coefficients listed from the constant term upward,
// evaluated by Horner's rule from the highest coefficient down.
template <std::size_t N>
constexpr double horner(const std::array<double, N>& c, double x) {
  static_assert(N > 0);
  double r = c[N - 1];
  for (std::size_t i = N - 1; i-- > 0;) r = r * x + c[i];
  return r;
}

// One piece of erfc on [shift, next piece's shift):
//   erfc(z) ~ g * P(t) / Q(t) + g * offset,  g = exp(-z * z) / z,  t = z - shift.
template <std::size_t NP, std::size_t NQ>
struct ErfcPiece {
  double shift;
  double offset;
  std::array<double, NP> p;
  std::array<double, NQ> q;

  double erfc(double z) const {
    const double t = z - shift;
    const double ratio = horner(p, t) / horner(q, t);
    const double g = std::exp((-z) * z) / z;
    return g * ratio + g * offset;
  }
};

// clang-format off
// erf on [1e-10, 0.5): erf(z) ~ 1.125 * z + z * P(z) / Q(z); largest relative
// error 2.2e-16, about one unit in the last place.
inline constexpr std::array<double, 8> kErfSmallP{
    0.0033791670955125737, -0.0007369565304816795, -0.3747323373929196,   0.08174424487335873,
    -0.04210893199365486,  0.007016570951209575,   -0.004950912559824351, 0.0008716465990379225};
inline constexpr std::array<double, 8> kErfSmallQ{1.0,
                                                  -0.21808821808792464,
                                                  0.4125429727254421,
                                                  -0.08418911478731067,
                                                  0.06553388564002416,
                                                  -0.012001960445494177,
                                                  0.00408165558926174,
                                                  -0.0006159007215577697};

// 2 / sqrt(pi) - 1.125: the slope correction of erf below 1e-10.
inline constexpr double kErfTinySlope = 0.0033791670955125737;

// erfc on [0.5, 0.75), in t = z - 0.5; largest relative error 1.0e-10.
inline constexpr ErfcPiece<6, 6> kErfcPiece0{
    0.5,
    0.3440242112,
    {-0.03617903907182625, 0.2922518834448827, 0.2814470417976045, 0.12561020886276694,
     0.027413502826893053, 0.0025083967216806575},
    {1.0, 1.8545005897903486, 1.4357580303783142, 0.5828276587530365, 0.12481047693294975,
     0.011372417654635328}};
// erfc on [0.75, 1.25), in t = z - 0.75; largest relative error 5.0e-11.
inline constexpr ErfcPiece<7, 7> kErfcPiece1{
    0.75,
    0.419990927,
    {-0.03978768926111369, 0.1531652124678783, 0.19126029560093624, 0.10276327061989304,
     0.029637090615738836, 0.004609348678027549, 0.0003076078203486802},
    {1.0, 1.955200729876277, 1.6476231719938486, 0.7682386070221262, 0.20979318593650978,
     0.031956931689991336, 0.0021336316089578537}};
// erfc on [1.25, 2.25), in t = z - 1.25; largest relative error 4.6e-11.
inline constexpr ErfcPiece<7, 8> kErfcPiece2{
    1.25,
    0.4898625016,
    {-0.030083856055794972, 0.05385788298444545, 0.07262115416519142, 0.036762846988804936,
     0.009646290155725275, 0.0013345348007529107, 7.780875997825043e-5},
    {1.0, 1.7596709814716753, 1.3288357143796112, 0.5525285965087576, 0.13379305694133287,
     0.017950964517628076, 0.0010471244001993736, -1.0664038182035734e-8}};
// erfc on [2.25, 3.5), in t = z - 2.25; largest relative error 8.2e-11.
inline constexpr ErfcPiece<7, 7> kErfcPiece3{
    2.25,
    0.5317370892,
    {-0.011790757013722784, 0.01426213209053881, 0.020223443590296084, 0.009306682999904321,
     0.00213357802422066, 0.00025022987386460105, 1.2053491221958819e-5},
    {1.0, 1.5037622520362048, 0.9653977862044629, 0.3392652304767967, 0.06897406495415698,
     0.007710602624917683, 0.0003714211015310693}};
// erfc on [3.5, 5.25), in t = z - 3.5; largest relative error 2.5e-11.
inline constexpr ErfcPiece<7, 8> kErfcPiece4{
    3.5,
    0.5489973426,
    {-0.005469547955387293, 0.004041902787317071, 0.005496336955316117, 0.002126164726039454,
     0.0003949840144950839, 3.655654770644424e-5, 1.3548589710993232e-6},
    {1.0, 1.2101969777363077, 0.6209146682211439, 0.17303843066114277, 0.027655081377343203,
     0.0024062597442430973, 8.918118172513365e-5, -4.655288362833827e-12}};
// erfc on [5.25, 8), in t = z - 5.25; largest relative error 5.3e-11.
inline constexpr ErfcPiece<6, 7> kErfcPiece5{
    5.25,
    0.5571740866,
    {-0.0027072253590577837, 0.00131875634250294, 0.0011992593326100233, 0.00027849619811344664,
     2.6782298821833186e-5, 9.230436723150282e-7},
    {1.0, 0.8146328085431416, 0.26890166585629954, 0.044987721610304114, 0.0038175966332024847,
     0.00013157189788859692, 4.048153596757641e-12}};
// erfc on [8, 11.5), in t = z - 8; largest relative error 2.5e-11.
inline constexpr ErfcPiece<6, 6> kErfcPiece6{
    8.0,
    0.5609807968,
    {-0.001099467206917422, 0.00040642544275042267, 0.0002744994894169007, 4.652937706466594e-5,
     3.2095542539576746e-6, 7.782860181450209e-8},
    {1.0, 0.5881737106118461, 0.13936333128940975, 0.016632934041708368, 0.0010002392131023491,
     2.4254837521587224e-5}};
// erfc on [11.5, 17), in t = z - 11.5; largest relative error 7.1e-11.
inline constexpr ErfcPiece<5, 6> kErfcPiece7{
    11.5,
    0.5626493692,
    {-0.0005690799360109496, 0.00016949854037376225, 5.184723545811009e-5, 3.8281931223192885e-6,
     8.249899312818944e-8},
    {1.0, 0.33963725005113937, 0.04347264787031066, 0.002485493352246371, 5.356333053371529e-5,
     -1.1749094440545958e-13}};
// erfc on [17, 24), in t = z - 17; largest relative error 9.2e-12.
inline constexpr ErfcPiece<5, 5> kErfcPiece8{
    17.0,
    0.5634598136,
    {-0.00024131359948399134, 5.742249752025015e-5, 1.1599896292738377e-5, 5.817621344025938e-7,
     8.539715550856736e-9},
    {1.0, 0.23304413829968784, 0.02041869405464403, 0.0007971856475643983, 1.1701928167017232e-5}};
// erfc on [24, 38), in t = z - 24; largest relative error 4.9e-11 while erfc is a
// normal double (up to z = 26.5); beyond, it underflows to subnormals and then 0.
inline constexpr ErfcPiece<5, 5> kErfcPiece9{
    24.0,
    0.5638477802,
    {-0.00014667469927776036, 1.6266655211228053e-5, 2.6911624850916523e-6, 9.79584479468092e-8,
     1.0199464762572346e-9},
    {1.0, 0.16590781294484722, 0.010336171619150588, 0.0002865930263738684, 2.9840157084090034e-6}};
// erfc on [38, 60), in t = z - 38. erfc is below the smallest subnormal double
// here, so the piece gives 0: exp(-z * z) underflows.
inline constexpr ErfcPiece<5, 5> kErfcPiece10{
    38.0,
    0.5640528202,
    {-5.839057976297718e-5, 4.125103251054962e-6, 4.3179092242025094e-7, 9.933651555900132e-9,
     6.534805100201047e-11},
    {1.0, 0.10507708607203992, 0.004142784286754756, 7.263387546445238e-5, 4.778184710473988e-7}};
// erfc on [60, 85), in t = z - 60. erfc is below the smallest subnormal double
// here, so the piece gives 0: exp(-z * z) underflows.
inline constexpr ErfcPiece<4, 5> kErfcPiece11{
    60.0,
    0.5641309023,
    {-1.9645779760922958e-5, 1.572438876668007e-6, 5.439025111927009e-8, 3.174724923691177e-10},
    {1.0, 0.05280398924095763, 0.0009268760691517533, 5.410117232266303e-6, 5.350938458036424e-16}};
// erfc on [85, 110), in t = z - 85. erfc is below the smallest subnormal double
// here, so the piece gives 0: exp(-z * z) underflows.
inline constexpr ErfcPiece<4, 4> kErfcPiece12{
    85.0,
    0.5641584396,
    {-7.892247039787227e-6, 6.22088451660987e-7, 1.457284456768824e-8, 6.037155055427153e-11},
    {1.0, 0.03753288463562937, 0.0004679195359746253, 1.9384703927584565e-6}};

// clang-format on

// erfc for 0.5 <= z < 110; each interval is closed below and open above.
inline double erfc_tail(double z) {
  if (z < 0.75) return kErfcPiece0.erfc(z);
  if (z < 1.25) return kErfcPiece1.erfc(z);
  if (z < 2.25) return kErfcPiece2.erfc(z);
  if (z < 3.5) return kErfcPiece3.erfc(z);
  if (z < 5.25) return kErfcPiece4.erfc(z);
  if (z < 8.0) return kErfcPiece5.erfc(z);
  if (z < 11.5) return kErfcPiece6.erfc(z);
  if (z < 17.0) return kErfcPiece7.erfc(z);
  if (z < 24.0) return kErfcPiece8.erfc(z);
  if (z < 38.0) return kErfcPiece9.erfc(z);
  if (z < 60.0) return kErfcPiece10.erfc(z);
  if (z < 85.0) return kErfcPiece11.erfc(z);
  if (z < 110.0) return kErfcPiece12.erfc(z);
  return 0.0;  // not reached: callers pass z < 110
}

}  // namespace erf_detail

// erf(z) when invert is false, erfc(z) = 1 - erf(z) when it is true.
// z must be finite and not NaN.
inline double erf_impl(double z, bool invert) {
  using namespace erf_detail;
  if (z < 0.0) {
    if (!invert) return -erf_impl(-z, false);
    if (z < -0.5) return 2.0 - erf_impl(-z, true);
    return 1.0 + erf_impl(-z, false);
  }

  double r;
  if (z < 0.5) {
    // r approximates erf(z).
    if (z < 1e-10) {
      r = 1.125 * z + kErfTinySlope * z;
    } else {
      r = 1.125 * z + (z * horner(kErfSmallP, z)) / horner(kErfSmallQ, z);
    }
  } else if (z < 110.0) {
    // r approximates erfc(z).
    r = erfc_tail(z);
  } else {
    r = 0.0;  // erfc has underflowed
  }

  if (!invert && z >= 0.5) return 1.0 - r;
  if (invert && z < 0.5) return 1.0 - r;
  return r;
}

// sqrt(2 pi), the pdf's divisor (times the standard deviation).
inline constexpr double kSqrtTwoPi = 2.5066282746310007;

struct NormalDistribution {
  double mean;
  double std_dev;

  double pdf(double x) const {
    const double z = (x - mean) / std_dev;
    return std::exp((-0.5 * z) * z) / (std_dev * kSqrtTwoPi);
  }

  double cdf(double x) const {
    // sqrt(2); note mean - x, so that cdf = erfc(z) / 2.
    const double z = (mean - x) / (std_dev * 1.4142135623730951);
    if (std::isnan(z)) return z;
    if (z == INFINITY) return 0.0;
    if (z == -INFINITY) return 1.0;
    return 0.5 * erf_impl(z, true);
  }
};

inline constexpr NormalDistribution kStandardNormal{0.0, 1.0};

}  // namespace quillon
