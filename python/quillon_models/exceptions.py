"""Warnings of the model layer, named as statsmodels names its own, so that
filters written for one read naturally for the other."""


class ModelWarning(UserWarning):
    """Base class of the warnings that a fit raises."""


class ConvergenceWarning(ModelWarning):
    """The Newton iteration ran out of passes before the log-likelihood settled."""


class HessianInversionWarning(ModelWarning):
    """The Hessian could not be inverted, or its inverse is not a covariance: a
    regressor is constant, empty or collinear with others."""


class PerfectSeparationWarning(ModelWarning):
    """The outcome is perfectly or quasi-perfectly separated: some estimates
    run to infinity and some observations are predicted perfectly."""


class CollinearityWarning(ModelWarning):
    """Columns of the design are linear combinations of others: they were
    left out of the fit."""


class PerfectSeparationError(ValueError):
    """The outcome is separated, and the fit was asked to refuse it
    (separation="raise")."""


class CovarianceWarning(ModelWarning):
    """The covariance cannot serve as it stands: a variance is not positive
    (the standard errors, z statistics, p-values and intervals that rest on
    it are NaN), or the constraints of a Wald test have a singular covariance
    (the test counts its rank as degrees of freedom)."""


class OmittedWarning(ModelWarning):
    """An effect rests on a regressor left out of the fit (for separation,
    collinearity, or because no fitted row has it): it has no estimate, and
    shows as NaN marked "(omitted)"."""
