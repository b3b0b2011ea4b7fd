// The functions of quillon_models._kernels, in the positional convention
// (METH_VARARGS). The first group reads one part's arrays in place and
// computes with the interpreter lock released; the second combines the sums
// of all parts with the engine's own steps.
#pragma once

#include <Python.h>

namespace quillon::partition {

// Row weights (finite, not negative, one per row; None for none) count row i
// weights[i] times in a part's sums.
// (endog, exog, params[, weights]) -> (loglike, score, hessian)
PyObject* evaluate(PyObject* module, PyObject* args);
// (endog, exog, params[, weights, frequency]) -> sum_i s_i s_i' (k x k), or with
// weights sum_i v_i s_i s_i' (frequency) or sum_i v_i^2 s_i s_i' (sampling)
PyObject* score_cross_product(PyObject* module, PyObject* args);
// (endog, exog, params, clusters[, weights]) -> (each cluster's codes, its sums of
// v_i s_i), clusters in the order of their first rows
PyObject* cluster_sums(PyObject* module, PyObject* args);
// (exog,) -> list of bool: the columns whose values are all 0.0 or 1.0
PyObject* binary_columns(PyObject* module, PyObject* args);
// (endog, exog) -> (every value finite, outcomes equal to 1, outcomes neither 0
// nor 1, list of bool: the column repeats a finite nonzero value)
PyObject* design_screen(PyObject* module, PyObject* args);
// (exog, params, names, binary[, weights]) -> (effect sums, Jacobian sums), each row
// counted weights[i] times when given
PyObject* effect_sums(PyObject* module, PyObject* args);
// (exog, derivative columns, positions, params, groups or None, n_groups[, relative])
//   -> (G slope sums, G x k Jacobian sums)
PyObject* slope_sums(PyObject* module, PyObject* args);
// (exog, positions, high columns or None, low columns or None, params, groups or None,
//  n_groups[, relative]) -> (G contrast sums, G x k Jacobian sums)
PyObject* contrast_sums(PyObject* module, PyObject* args);
// (exog, params, groups or None, n_groups, designs, slopes, contrasts[, weights])
//   -> [(G sums, G x k Jacobian sums)] of the slopes, then of the contrasts: designs
//   are pairs (positions, columns or None), slopes pairs (positions, derivative
//   columns), contrasts pairs (high, low or None) of design indices
PyObject* joint_sums(PyObject* module, PyObject* args);
// (exog,) -> (column sums, minima, maxima, list of bool: whole numbers only)
PyObject* column_summary(PyObject* module, PyObject* args);
// (exog,) -> the column medians
PyObject* column_medians(PyObject* module, PyObject* args);
// (exog, params, probability) -> the linear index of each row, or its normal cdf
PyObject* predict(PyObject* module, PyObject* args);
// (columns,) -> (a new row-major array whose column j is columns[j], every
// value finite, list of bool: the column repeats a finite nonzero value)
PyObject* rows_from_columns(PyObject* module, PyObject* args);
// (values,) -> (int32 codes as bytes, levels in order of first appearance) for a 1-D
// object array of text (None and float NaN missing, code -1); None for anything else
PyObject* text_codes(PyObject* module, PyObject* args);

// (weights,) -> (sum of the finite weights that are not negative, how many are
// positive, negative, NaN or infinite, and finite but not whole numbers)
PyObject* weight_totals(PyObject* module, PyObject* args);

// (evaluate, k, max_iter, tol) -> (params, loglike, iterations, converged, hessian)
PyObject* newton(PyObject* module, PyObject* args);
// (hessian, params, middle or None) -> (covariance, usable maximum)
PyObject* covariance(PyObject* module, PyObject* args);
// (cluster sums,) -> sum of their outer products
PyObject* cluster_cross_product(PyObject* module, PyObject* args);
// (effect sums, Jacobian sums, nobs, cov, names) -> the marginal-effects DataFrame
PyObject* ame_table(PyObject* module, PyObject* args);

}  // namespace quillon::partition
