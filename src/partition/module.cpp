// quillon_models._kernels: what one part of a data set split by rows
// contributes to a probit fit, computed by the engine's own sweeps, and the
// engine's steps that combine the parts.
#include <Python.h>

#include "partition/entries.hpp"

namespace quillon::partition {
namespace {

PyMethodDef functions[] = {
    {"evaluate", evaluate, METH_VARARGS,
     "Log-likelihood, score and Hessian sums of one part, row i counted weights[i] times when "
     "weights are given."},
    {"score_cross_product", score_cross_product, METH_VARARGS,
     "Sum of the score outer products of one part, with frequency or sampling weights when "
     "given."},
    {"cluster_sums", cluster_sums, METH_VARARGS,
     "Per-cluster (weighted) score sums of one part, with each cluster's codes, in first-seen "
     "order."},
    {"binary_columns", binary_columns, METH_VARARGS,
     "Which columns of one part hold only 0.0 and 1.0."},
    {"design_screen", design_screen, METH_VARARGS,
     "Whether a design's values are all finite, how its outcomes split, and its constant "
     "columns, in one read."},
    {"effect_sums", effect_sums, METH_VARARGS,
     "Marginal-effect and Jacobian sums of one part, weighted when weights are given."},
    {"slope_sums", slope_sums, METH_VARARGS,
     "Slope and Jacobian sums of one part's derivative design, by group."},
    {"contrast_sums", contrast_sums, METH_VARARGS,
     "Contrast and Jacobian sums of one part's pair of counterfactual designs, by group."},
    {"joint_sums", joint_sums, METH_VARARGS,
     "Slope and contrast sums of several designs of one part in one reading of its rows, "
     "by group."},
    {"column_summary", column_summary, METH_VARARGS,
     "Column sums, minima, maxima and whether each column holds whole numbers only."},
    {"column_medians", column_medians, METH_VARARGS, "Column medians."},
    {"predict", predict, METH_VARARGS,
     "Linear index of each row of one part, or its normal cdf."},
    {"rows_from_columns", rows_from_columns, METH_VARARGS,
     "A new row-major array whose columns are the given 1-D arrays, with the checks of "
     "design_screen on its values."},
    {"text_codes", text_codes, METH_VARARGS,
     "Each row's level of a column of text and the levels in order of first appearance, or "
     "None for a column this reader does not decide on."},
    {"weight_totals", weight_totals, METH_VARARGS,
     "Sum of a part's weights, and how many are positive, negative, not finite and not whole."},
    {"newton", newton, METH_VARARGS,
     "Newton-Raphson from 0 over points evaluated by a callable."},
    {"covariance", covariance, METH_VARARGS,
     "Classical covariance, or the sandwich with a middle factor, and whether the maximum is "
     "usable."},
    {"cluster_cross_product", cluster_cross_product, METH_VARARGS,
     "Sum of the outer products of the rows of the cluster sums."},
    {"ame_table", ame_table, METH_VARARGS, "The marginal-effects table from summed effects."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "quillon_models._kernels",
    "Partition kernels of quillon: the sums of one part of the rows, and the steps that combine "
    "them.",
    0,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quillon::partition

PyMODINIT_FUNC PyInit__kernels(void) {
  return PyModule_Create2(&quillon::partition::definition, PYTHON_API_VERSION);
}
