"""statsmodels' own probit results, built from quillon's numbers without
refitting, for what statsmodels offers beyond them. A formula's model spec
goes with them, so that statsmodels' predict on new data and its
wald_test_terms read the formula as the fit did."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import pandas as pd

if TYPE_CHECKING:
    from .results import ProbitResults


def to_statsmodels(results: ProbitResults) -> Any:
    try:
        from statsmodels.base.model import LikelihoodModelResults
        from statsmodels.discrete.discrete_model import (
            BinaryResultsWrapper,
            Probit,
            ProbitResults,
        )
    except ImportError as error:
        raise ImportError("to_statsmodels needs statsmodels: "
                          "pip install 'quillon[statsmodels]'") from error
    model = results._fitted_model()
    record = results._fit_record()
    rows = model._data.fitted_rows(record)
    if rows is None:
        raise NotImplementedError("to_statsmodels needs the data in memory: statsmodels' "
                                  "results keep them; compute the Dask collections first")
    if record.weight_kind is not None:
        raise NotImplementedError("to_statsmodels of a weighted fit: statsmodels' Probit has no "
                                  "weights, and its statistics and effects over the rows would "
                                  "ignore them")
    endog = pd.Series(rows.endog, index=rows.row_labels, name=results.endog_name)
    exog = pd.DataFrame(rows.exog, index=rows.row_labels, columns=results.exog_names)
    sm_model = Probit(endog, exog)
    hand_over_formula(sm_model, model)
    params = results.params.to_numpy()
    fit = LikelihoodModelResults(sm_model, params, normalized_cov_params=results.cov_params()
                                 .to_numpy(), scale=1.0)
    fit.mle_retvals = {"converged": results.converged, "iterations": results.iterations + 1}
    fit.mle_settings = {"optimizer": "newton", "start_params": None, "maxiter": None}
    converted = ProbitResults(sm_model, fit)
    # The covariance is the one given, whatever its kind: say which it is.
    converted.cov_type = results.cov_type
    converted.cov_kwds = dict(results.cov_kwds)
    converted._cache["llf"] = results.llf
    converted._cache["llnull"] = results.llnull
    return BinaryResultsWrapper(converted)


def hand_over_formula(sm_model: Any, model: Any) -> None:
    """The formula and its model spec on statsmodels' model, in the form its
    formula engine reads: formulaic's spec itself, or the same spec as
    patsy's DesignInfo."""
    spec = getattr(model, "model_spec", None)
    if spec is None:
        return
    if formula_engine() == "formulaic":
        handed = spec
    else:
        from .patsy_design import design_info

        handed = design_info(spec)
    sm_model.formula = model.formula
    # statsmodels 0.15 reads model_spec; earlier versions design_info.
    sm_model.data.model_spec = handed
    sm_model.data.design_info = handed


def formula_engine() -> str:
    """The formula engine statsmodels uses: patsy, unless set to formulaic."""
    try:
        from statsmodels.formula import options
    except ImportError:
        return "patsy"
    return str(getattr(options, "formula_engine", "patsy"))
