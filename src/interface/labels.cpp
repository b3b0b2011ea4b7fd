#include "interface/labels.hpp"

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "interface/arrays.hpp"
#include "interface/text.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

// The labels of one axis ("index" or "columns") of a pandas object, in order.
int read_labels(PyObject* original, const char* axis, std::vector<PyRef>& labels) {
  PyRef index(PyObject_GetAttrString(original, axis));
  if (!index) return -1;
  PyRef iterator(PyObject_GetIter(index.get()));
  if (!iterator) return -1;
  while (PyRef label{PyIter_Next(iterator.get())}) labels.push_back(std::move(label));
  return PyErr_Occurred() ? -1 : 0;
}

// The UTF-8 text of a str label; nullopt for any other label, which names no
// regressor.
std::optional<std::string_view> label_text(PyObject* label) {
  if (!PyUnicode_Check(label)) return std::nullopt;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(label, &size);
  if (utf8 == nullptr) {  // lone surrogates: no regressor name has them
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

bool same_as_names(const std::vector<PyRef>& labels, const std::vector<std::string>& names) {
  if (labels.size() != names.size()) return false;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (label_text(labels[i].get()) != std::string_view(names[i])) return false;
  }
  return true;
}

// Appends `item` (a new reference, or nullptr after a failure) to `list`.
int append(PyObject* list, PyObject* item) {
  PyRef owned(item);
  return owned ? PyList_Append(list, owned.get()) : -1;
}

// ValueError "the {axis} of {what} disagrees with model.exog_names: missing
// [...], extra [...], duplicated [...]", each list only when not empty.
int raise_disagreement(const std::vector<PyRef>& labels, const std::vector<std::string>& names,
                       const char* axis, const char* what) {
  std::unordered_map<std::string_view, std::size_t> label_count;
  std::unordered_map<std::string_view, std::size_t> name_count;
  for (const PyRef& label : labels) {
    if (const auto text = label_text(label.get())) ++label_count[*text];
  }
  for (const std::string& name : names) ++name_count[name];
  PyRef missing(PyList_New(0)), extra(PyList_New(0)), duplicated(PyList_New(0));
  if (!missing || !extra || !duplicated) return -1;
  std::unordered_set<std::string_view> listed;  // each name in one list, once
  for (const std::string& name : names) {
    if (label_count.contains(name) || !listed.insert(name).second) continue;
    if (append(missing.get(), new_str(name)) < 0) return -1;
  }
  for (const PyRef& label : labels) {
    const auto text = label_text(label.get());
    if (!text || !name_count.contains(*text)) {
      if (PyList_Append(extra.get(), label.get()) < 0) return -1;
    } else if ((label_count[*text] > 1 || name_count[*text] > 1) && listed.insert(*text).second) {
      if (PyList_Append(duplicated.get(), label.get()) < 0) return -1;
    }
  }
  PyRef message(PyUnicode_FromFormat(texts::kLabelsDisagreeFormat, axis, what));
  if (!message) return -1;
  const char* separator = " ";
  for (const auto& [kind, list] : {std::pair{"missing", missing.get()},
                                   std::pair{"extra", extra.get()},
                                   std::pair{"duplicated", duplicated.get()}}) {
    if (PyList_Size(list) == 0) continue;
    PyRef part(PyUnicode_FromFormat("%U%s%s %R", message.get(), separator, kind, list));
    if (!part) return -1;
    message = std::move(part);
    separator = ", ";
  }
  PyErr_SetObject(PyExc_ValueError, message.get());
  return -1;
}

// The position among the labels of each name, or nullopt (with nothing
// set) when the labels are not the names, each once, in some order.
std::optional<std::vector<std::size_t>> positions_of_names(const std::vector<PyRef>& labels,
                                                           const std::vector<std::string>& names) {
  if (labels.size() != names.size()) return std::nullopt;
  std::unordered_map<std::string_view, std::size_t> position;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const auto text = label_text(labels[i].get());
    if (!text || !position.emplace(*text, i).second) return std::nullopt;
  }
  std::vector<std::size_t> order;
  for (const std::string& name : names) {
    const auto found = position.find(name);
    if (found == position.end()) return std::nullopt;
    order.push_back(found->second);
  }
  return order;
}

// original.take(order, axis=axis): a copy with the entries of that axis in
// the given order.
PyObject* take(PyObject* original, const std::vector<std::size_t>& order, int axis) {
  PyRef positions(PyList_New(0));
  if (!positions) return nullptr;
  for (const std::size_t i : order) {
    if (append(positions.get(), PyLong_FromSize_t(i)) < 0) return nullptr;
  }
  PyRef method(PyObject_GetAttrString(original, "take"));
  if (!method) return nullptr;
  PyRef args(PyTuple_Pack(1, positions.get()));
  PyRef kwargs(Py_BuildValue("{s:i}", "axis", axis));
  if (!args || !kwargs) return nullptr;
  return PyObject_Call(method.get(), args.get(), kwargs.get());
}

// The order of the names among the labels of one axis: empty when they
// are the names in order, -1 with ValueError when they are not the names.
int axis_order(PyObject* original, const char* axis, const std::vector<std::string>& names,
               const char* what, std::optional<std::vector<std::size_t>>& order) {
  std::vector<PyRef> labels;
  if (read_labels(original, axis, labels) < 0) return -1;
  if (same_as_names(labels, names)) return 0;
  order = positions_of_names(labels, names);
  return order ? 0 : raise_disagreement(labels, names, axis, what);
}

}  // namespace

int order_by_names(PyObject* original, LabelledAxes axes, const std::vector<std::string>& names,
                   const char* what, PyRef& array) {
  const int is_pandas = is_pandas_series_or_frame(original);
  if (is_pandas <= 0) return is_pandas;
  std::optional<std::vector<std::size_t>> rows, columns;
  if (axes != LabelledAxes::kColumns && axis_order(original, "index", names, what, rows) < 0)
    return -1;
  if (axes != LabelledAxes::kIndex && axis_order(original, "columns", names, what, columns) < 0)
    return -1;
  if (!rows && !columns) return 0;
  PyRef ordered = PyRef::borrow(original);
  if (rows) ordered = PyRef(take(ordered.get(), *rows, 0));
  if (ordered && columns) ordered = PyRef(take(ordered.get(), *columns, 1));
  if (!ordered) return -1;
  const int ndim = axes == LabelledAxes::kIndex ? 1 : 2;
  if (downcast_array_or_pandas(ordered, ndim) < 0) return -1;
  array = std::move(ordered);
  return 0;
}

}  // namespace quillon
