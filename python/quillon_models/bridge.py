"""statsmodels' own probit results, built from quillon's numbers without
refitting, for what statsmodels offers beyond them (t_test, wald_test, ...)."""

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
    if model._data.on_dask:
        raise NotImplementedError("to_statsmodels needs the data in memory: statsmodels' "
                                  "results keep them; compute the Dask collections first")
    endog = pd.Series(model.endog, index=model.row_labels, name=results.endog_name)
    exog = pd.DataFrame(model.exog, index=model.row_labels, columns=results.exog_names)
    sm_model = Probit(endog, exog)
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
