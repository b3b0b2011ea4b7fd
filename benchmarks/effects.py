"""Effects of variables: ame() over every variable against the fit's own
time, and against marginaleffects' avg_slopes on the statsmodels fit.

    python benchmarks/effects.py            # n = 1,000,000
    python benchmarks/effects.py --quick    # n = 100,000

A seeded DataFrame fitted from a formula with a square, an interaction, a
0/1 variable and a four-level factor:

    y ~ x1 + I(x1**2) + x2*d + x3 + C(region)

- fit: quillon_models.probit(formula, df).fit();
- ame: results.ame(), every variable (x1 through its square, x2 and d
  through their interaction, d's 0 -> 1 contrast, the three contrasts of
  region with its reference), with delta-method standard errors;
- avg_slopes: marginaleffects' avg_slopes on statsmodels' fit of the same
  formula (skipped when marginaleffects is not installed), and the largest
  gaps between its effects and quillon's.

Medians of repeated runs in this process, the fit and ame() in turns so
that both meet the same load (marginaleffects once).
"""

import argparse
import statistics
import time
import warnings

import numpy as np
import pandas as pd

import quillon_models as qm

FORMULA = "y ~ x1 + I(x1**2) + x2*d + x3 + C(region)"


def frame(n, seed=7):
    rng = np.random.default_rng(seed)
    data = pd.DataFrame({"x1": rng.standard_normal(n), "x2": rng.standard_normal(n),
                         "x3": rng.uniform(0, 4, n), "d": (rng.random(n) < 0.4).astype(float),
                         "region": pd.Categorical(rng.choice(["a", "b", "c", "d"], size=n))})
    shift = data["region"].map({"a": 0.0, "b": 0.2, "c": -0.3, "d": 0.1}).to_numpy(float)
    index = (0.2 + 0.5 * data.x1 - 0.15 * data.x1 ** 2 + 0.3 * data.x2 - 0.4 * data.d
             + 0.2 * data.x2 * data.d - 0.1 * data.x3 + shift)
    data["y"] = (index + rng.standard_normal(n) > 0).astype(float)
    return data


def timed(call, repeats):
    times, value = [], None
    for _ in range(repeats):
        start = time.perf_counter()
        value = call()
        times.append(time.perf_counter() - start)
    return statistics.median(times), value


def in_turns(calls, repeats):
    """Each call's median time and last value, the calls run in turns."""
    times, values = [[] for _ in calls], [None] * len(calls)
    for _ in range(repeats):
        for i, call in enumerate(calls):
            start = time.perf_counter()
            values[i] = call()
            times[i].append(time.perf_counter() - start)
    return [statistics.median(t) for t in times], values


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="n = 100,000")
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    n = 100_000 if args.quick else 1_000_000
    data = frame(n)
    model = qm.probit(FORMULA, data)
    results = model.fit()
    results.ame()  # the first call's imports and formulaic's set-up are not timed
    (fit_seconds, ame_seconds), (_, table) = in_turns([model.fit, results.ame], args.repeats)
    print(f"effects of variables, n = {n:,}: {FORMULA}")
    print(f"  fit            {fit_seconds:8.3f} s")
    print(f"  ame()          {ame_seconds:8.3f} s  ({ame_seconds / fit_seconds:.2f} x the fit)")
    try:
        import statsmodels.formula.api as smf
        from marginaleffects import avg_slopes
    except ImportError:
        print("  avg_slopes     (marginaleffects not installed: pip install 'quillon[compare]')")
        return
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        fitted = smf.probit(FORMULA.replace("C(region)", "region"), data).fit(disp=0)
        theirs_seconds, theirs = timed(lambda: avg_slopes(fitted).to_pandas(), 1)
    theirs = theirs.set_index(["term", "contrast"]).loc[table.index]
    print(f"  avg_slopes     {theirs_seconds:8.3f} s  (marginaleffects, on statsmodels' fit; "
          f"{theirs_seconds / ame_seconds:.1f} x ame())")
    # Differences include those of the two fits (statsmodels' stops at its own tolerance).
    effect_gap = np.max(np.abs(table["dy/dx"].to_numpy() - theirs["estimate"].to_numpy()))
    se_gap = np.max(np.abs(table["Std. Err"].to_numpy() / theirs["std_error"].to_numpy() - 1))
    print(f"  largest gap: effects {effect_gap:.2e} absolute, standard errors {se_gap:.2e} "
          "relative")


if __name__ == "__main__":
    main()
