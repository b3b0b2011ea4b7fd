// Every text the quillon module shows its users: the module's and the
// functions' docstrings, the names of its classes and table columns, the
// messages of the exceptions it raises and the diagnostics it writes on
// standard error.
//
// They are kept here as the module's users see them, word for word: code
// written against the module matches these messages and reads these names,
// so none of them changes unless what users see is meant to change. The
// format strings take their arguments in the order their callers pass them.
#pragma once

namespace quillon::texts {

// The module and its functions.
inline constexpr const char* kModuleName = "quillon";
inline constexpr const char* kModuleDoc = "A Python module implemented in Corvid.";
inline constexpr const char* kAmeDoc =
    "ame(probit_model, chunk_size=...)\n--\n\n"
    "Calculates Average Marginal Effects (AME) for a Probit model";
inline constexpr const char* kFitProbitDoc =
    "fit_probit(endog_py, exog_py, max_iter=..., tol=..., robust=..., cluster_vars=...)\n--\n\n";
inline constexpr const char* kCovParamsDoc = "cov_params($self)\n--\n\n";
inline constexpr const char* kNotMainInterpreter =
    "quillon: the module can only be imported in the main interpreter";
inline constexpr const char* kInitialisedTwice =
    "quillon: the modules may only be initialized once per interpreter process";

// The classes.
inline constexpr const char* kModelClass = "CorvidProbitModel";
inline constexpr const char* kResultsClass = "CorvidProbitResults";
inline constexpr const char* kModelTypeName = "builtins.CorvidProbitModel";
inline constexpr const char* kResultsTypeName = "builtins.CorvidProbitResults";
inline constexpr const char* kNoConstructor = "No constructor defined";
inline constexpr const char* kTypeObjectFailed = "failed to create type object for ";
inline constexpr const char* kEmptyObjectFormat = "empty '%s' object: it was not created by quillon";
inline constexpr const char* kPanicExceptionName = "quillon.PanicException";
inline constexpr const char* kPanicExceptionDoc =
    "Raised when quillon detects a broken internal invariant. It derives from "
    "BaseException, not Exception, so that it is not silently caught.";

// The marginal-effects table's columns.
inline constexpr const char* kEffectColumn = "dy/dx";
inline constexpr const char* kStdErrColumn = "Std. Err";
inline constexpr const char* kZColumn = "z";
inline constexpr const char* kPValueColumn = "Pr(>|z|)";
inline constexpr const char* kSignificanceColumn = "Significance";

// Arguments (the pieces of Python's own wording for a call that does not bind).
inline constexpr const char* kMissingArguments = "() missing ";
inline constexpr const char* kRequiredPositional = " required positional ";
inline constexpr const char* kTakesFrom = "() takes from ";
inline constexpr const char* kPositionalButGiven = " positional arguments but ";
inline constexpr const char* kWereGiven = " were given";
inline constexpr const char* kUnexpectedKeyword = "() got an unexpected keyword argument '";
inline constexpr const char* kMultipleValues = "() got multiple values for argument '";
inline constexpr const char* kArgumentPrefixFormat = "argument '%s': %U";
inline constexpr const char* kChunkSizeZero = "chunk_size must be at least 1, got 0";

// Arrays, lists and conversions: "'{type}' object cannot be converted to
// '{target}'", with these targets.
inline constexpr const char* kCannotConvert = "' object cannot be converted to '";
inline constexpr const char* kArrayTarget = "PyArray<T, D>";
inline constexpr const char* kBoolTarget = "PyBool";
inline constexpr const char* kTupleTarget = "PyTuple";
inline constexpr const char* kSequenceTarget = "Sequence";
inline constexpr const char* kStringTarget = "PyString";
inline constexpr const char* kDimensionalityFormat = "dimensionality mismatch:\n from=%d, to=%d";
inline constexpr const char* kTypeMismatch = "type mismatch:\n from=";
inline constexpr const char* kStrToVec = "Can't extract `str` to `Vec`";
inline constexpr const char* kEndogShapeFormat =
    "endog must be shape (nobs,) or (nobs,1). Got shape=(%llu,%llu)";
inline constexpr const char* kShapeLengthFormat =
    "expected tuple of length 2, but got tuple of length %zd";
inline constexpr const char* kRowsMismatchFormat =
    "exog has %zu rows but endog has %zu elements; exog needs one row per observation";
inline constexpr const char* kClusterShapeFormat = "cluster shape mismatch. got %zu rows, nobs=%zu";

// The fitted model read by ame.
inline constexpr const char* kChangedWhileReadingFormat = "%s changed while ame was reading it";
inline constexpr const char* kLabelsDisagreeFormat = "the %s of %s disagrees with model.exog_names:";
inline constexpr const char* kNotProbitFormat =
    "ame computes probit marginal effects: the results of a statsmodels %s model "
    "(%s.%s) are not a probit fit";

// NumPy's interface table.
inline constexpr const char* kNumpyImportFailed = "Failed to import NumPy module";
inline constexpr const char* kNumpyCapsuleMissing = "Failed to get NumPy API capsule";
inline constexpr const char* kNumpyTableMissing = "NumPy API capsule holds no interface table";

// A broken invariant: the report on standard error, and two of its messages.
inline constexpr const char* kPanickedAt = "quillon panicked at ";
inline constexpr const char* kUnexpectedNativeException = "unexpected native exception";
inline constexpr const char* kSliceContainerFailed = "Failed to create slice container";

// The two diagnostics on standard error.
inline constexpr const char* kHessianNearSingular = "Hessian near singular at iteration ";
inline constexpr const char* kHessianSingularForCov = "Hessian singular => using identity for Cov\n";

}  // namespace quillon::texts
