"""Largest relative error of each piece of the module's erf and erfc.

Builds a small harness around src/numerics/normal.hpp with the module's
floating-point flags, evaluates every piece at random points and near both of
its edges, and compares with mpmath at 40 digits. Needs g++ and mpmath:

    python3 tests/cpp/data/measure_erf_accuracy.py [points per piece]

The numbers it prints are the ones quoted beside the coefficient tables.
"""

import pathlib
import random
import subprocess
import sys
import tempfile

import mpmath

ROOT = pathlib.Path(__file__).resolve().parents[3]
mpmath.mp.dps = 40
SMALLEST_NORMAL = mpmath.mpf(2) ** -1022

# [lo, hi) of each piece; the first approximates erf, the others erfc.
EDGES = [0.0, 0.5, 0.75, 1.25, 2.25, 3.5, 5.25, 8.0, 11.5, 17.0, 24.0, 38.0, 60.0, 85.0, 110.0]

HARNESS = r"""
#include <cstdio>
#include "numerics/normal.hpp"
int main() {
  double z;
  int invert;
  while (std::scanf("%la %d", &z, &invert) == 2)
    std::printf("%a\n", quillon::erf_impl(z, invert != 0));
}
"""


def build_harness(workdir):
    source = workdir / "harness.cpp"
    source.write_text(HARNESS)
    binary = workdir / "harness"
    subprocess.run(["g++", "-std=c++20", "-O2", "-ffp-contract=off", "-fno-fast-math",
                    f"-I{ROOT / 'src'}", str(source), "-o", str(binary)], check=True)
    return binary


def sample(lo, hi, count, rng):
    points = [rng.uniform(lo, hi) for _ in range(count)]
    for edge in (lo, hi):
        x = edge
        for _ in range(50):  # the doubles just above lo and just below hi
            points.append(x)
            x = float(mpmath.mpf(x) + (1 if edge == lo else -1) * mpmath.mpf(2) ** -40 * max(edge, 1))
    return [p for p in points if lo <= p < hi and p >= 1e-10]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 4000
    rng = random.Random(20261208)
    with tempfile.TemporaryDirectory() as tmp:
        harness = build_harness(pathlib.Path(tmp))
        for lo, hi in zip(EDGES, EDGES[1:]):
            points = sample(lo, hi, count, rng)
            invert = 0 if lo == 0.0 else 1
            query = "".join(f"{p.hex()} {invert}\n" for p in points)
            out = subprocess.run([str(harness)], input=query, capture_output=True, text=True,
                                 check=True).stdout.split()
            worst, at, underflowed = 0.0, None, 0
            for p, text in zip(points, out):
                exact = mpmath.erf(p) if invert == 0 else mpmath.erfc(p)
                # Below the smallest normal double a result can only be a
                # subnormal or zero, and relative error means nothing.
                if exact < SMALLEST_NORMAL:
                    underflowed += 1
                    continue
                error = abs((mpmath.mpf(float.fromhex(text)) - exact) / exact)
                if error > worst:
                    worst, at = float(error), p
            kind = "erf " if invert == 0 else "erfc"
            measured = len(points) - underflowed
            if measured == 0:
                print(f"{kind} [{lo:g}, {hi:g}): below the smallest normal double throughout")
                continue
            print(f"{kind} [{lo:g}, {hi:g}): max relative error {worst:.2g} at z = {at!r} "
                  f"({measured} points; {underflowed} below the smallest normal double)")


if __name__ == "__main__":
    main()
