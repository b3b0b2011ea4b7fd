"""quillon_models end to end against statsmodels' formula interface.

    python benchmarks/front_door.py            # n = 1,000,000 (a few minutes)
    python benchmarks/front_door.py --quick    # n = 100,000

A seeded DataFrame with a 0/1 outcome, six continuous regressors, a 0/1
regressor and a four-level categorical (eleven columns in the design) is
fitted from the formula

    y ~ x1 + x2 + x3 + x4 + x5 + x6 + d + C(group)

- formula fit: quillon_models.probit(formula, df).fit() against
  statsmodels.formula.api.probit(formula, df).fit(), with statsmodels' default
  formula engine and, where statsmodels offers it, with formulaic;
- ame: results.ame() against get_margeff(at="overall", method="dydx",
  dummy=True);
- one thread: quillon_models with n_jobs=1 against statsmodels on one BLAS
  thread, and against glum's logit (glum has no probit link) fitted from the
  same formula and DataFrame, also held to one thread (threadpoolctl);
- arrays: quillon_models.Probit(y, X).fit() against quillon.fit_probit(y, X)
  on the prepared float64 arrays: the layer's overhead over the engine.

Medians of repeated runs in this process, the two sides of a comparison
taken in turns, statsmodels with its default BLAS threads; the comparisons
with statsmodels are repeated fewer times, as each of its fits takes seconds.
"""

import argparse
import statistics
import time
import warnings

import numpy as np
import pandas as pd

import quillon
import quillon_models as qm

FORMULA = "y ~ x1 + x2 + x3 + x4 + x5 + x6 + d + C(group)"


def frame(n, seed=2024):
    rng = np.random.default_rng(seed)
    data = {f"x{j}": rng.standard_normal(n) for j in range(1, 7)}
    data["d"] = (rng.random(n) < 0.4).astype(float)
    data["group"] = rng.choice(["north", "south", "east", "west"], size=n)
    index = 0.2 + sum(0.15 * j * data[f"x{j}"] / 6 for j in range(1, 7)) + 0.3 * data["d"]
    index = index + pd.Series(data["group"]).map({"north": 0.0, "south": 0.2, "east": -0.3,
                                                  "west": 0.1}).to_numpy()
    data["y"] = (index + rng.standard_normal(n) > 0).astype(float)
    return pd.DataFrame(data)


def seconds(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def median_seconds(call, repeats):
    return statistics.median(seconds(call) for _ in range(repeats))


def paired_medians(ours, theirs, repeats):
    """Medians of runs taken in turns, so that a change in the machine's load
    falls on both sides alike."""
    times = [(seconds(ours), seconds(theirs)) for _ in range(repeats)]
    return statistics.median(t[0] for t in times), statistics.median(t[1] for t in times)


def statsmodels_calls(df):
    import statsmodels.formula.api as smf

    def fit():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return smf.probit(FORMULA, df).fit(disp=0)

    return fit


def with_formula_engine(engine, call):
    """`call` with statsmodels set to `engine`, or None where statsmodels has
    no such option (before 0.15)."""
    try:
        from statsmodels.formula import options
    except ImportError:
        return None
    if engine not in getattr(options, "_allowed_options", ()):
        return None

    def run():
        previous = options.formula_engine
        options.formula_engine = engine
        try:
            return call()
        finally:
            options.formula_engine = previous

    return run


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="n = 100,000")
    parser.add_argument("--repeats", type=int, default=5, help="runs of quillon's calls")
    parser.add_argument("--sm-repeats", type=int, default=3, help="runs of statsmodels' calls")
    args = parser.parse_args()
    n = 100_000 if args.quick else 1_000_000
    df = frame(n)
    ours = qm.probit(FORMULA, df).fit()
    print(f"quillon_models front door: n = {n:,}, k = {len(ours.params)}, {FORMULA}")

    design = median_seconds(lambda: qm.probit(FORMULA, df), args.repeats)
    ours_fit = lambda: qm.probit(FORMULA, df).fit()  # noqa: E731
    sm_fit = statsmodels_calls(df)
    theirs = sm_fit()
    rows = [("formula fit (statsmodels' default engine)",
             *paired_medians(ours_fit, sm_fit, args.sm_repeats))]
    formulaic_call = with_formula_engine("formulaic", sm_fit)
    if formulaic_call is not None:
        rows.append(("formula fit (statsmodels with formulaic)",
                     *paired_medians(ours_fit, formulaic_call, args.sm_repeats)))
    rows.append(("ame vs get_margeff(dummy=True)", *paired_medians(
        ours.ame, lambda: theirs.get_margeff(at="overall", method="dydx", dummy=True),
        args.sm_repeats)))

    print(f"\n{'call':<44}{'quillon s':>11}{'statsmodels s':>15}{'speed-up':>10}")
    for name, mine, other in rows:
        print(f"{name:<44}{mine:>11.3f}{other:>15.3f}{other / mine:>10.1f}")
    print(f"(of which building the design with formulaic: {design:.3f} s)")
    one_thread(df, sm_fit, args)

    y, X = ours.model.endog.copy(), np.ascontiguousarray(ours.model.exog)
    engine, layer = paired_medians(lambda: quillon.fit_probit(y, X),
                                   lambda: qm.Probit(y, X).fit(), args.repeats)
    print(f"\narrays: quillon_models.Probit(y, X).fit() {layer:.3f} s, quillon.fit_probit(y, X) "
          f"{engine:.3f} s: {layer / engine:.2f} x the engine")


def glum_logit(df):
    """glum's logit from the formula and the DataFrame, or None without glum."""
    try:
        from glum import GeneralizedLinearRegressor
    except ImportError:
        return None
    return lambda: GeneralizedLinearRegressor(family="binomial", link="logit", alpha=0,
                                              formula=FORMULA, drop_first=True).fit(df)


def one_thread(df, sm_fit, args):
    """Formula to result on one thread for everyone."""
    try:
        from threadpoolctl import threadpool_limits
    except ImportError:
        print("\none thread: skipped (threadpoolctl is not installed)")
        return
    ours = lambda: qm.probit(FORMULA, df).fit(n_jobs=1)  # noqa: E731
    peers = [("statsmodels, one BLAS thread", sm_fit), ("glum logit, one thread", glum_logit(df))]
    print(f"\n{'formula fit on one thread':<44}{'quillon s':>11}{'peer s':>15}{'speed-up':>10}")
    with threadpool_limits(1):
        for name, peer in peers:
            if peer is None:
                print(f"{name:<44}{'(not installed)':>36}")
                continue
            mine, other = paired_medians(ours, peer, args.sm_repeats)
            print(f"{name:<44}{mine:>11.3f}{other:>15.3f}{other / mine:>10.1f}")


if __name__ == "__main__":
    main()
