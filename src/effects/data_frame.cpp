#include "effects/data_frame.hpp"

#include <array>
#include <utility>

#include "interface/py_ref.hpp"

namespace quillon {
namespace {

// A new list with one Python object per row, made by `make`.
template <class Make>
PyObject* column(const std::vector<TableRow>& rows, Make make) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(rows.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    PyObject* item = make(rows[i]);
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

int set_item(PyObject* dict, const char* key, PyObject* value_owned) {
  PyRef value(value_owned);
  if (!value) return -1;
  return PyDict_SetItemString(dict, key, value.get());
}

}  // namespace

PyObject* to_data_frame(const std::vector<TableRow>& rows) {
  PyRef pandas(PyImport_ImportModule("pandas"));
  if (!pandas) return nullptr;

  PyRef data(PyDict_New());
  if (!data) return nullptr;
  using Field = double TableRow::*;
  constexpr std::array<std::pair<const char*, Field>, 4> numeric = {{
      {"dy/dx", &TableRow::effect},
      {"Std. Err", &TableRow::std_error},
      {"z", &TableRow::z},
      {"Pr(>|z|)", &TableRow::p_value},
  }};
  for (const auto& [title, field] : numeric) {
    // Copied by name: clang before 16 cannot capture a structured binding.
    PyObject* values = column(
        rows, [member = field](const TableRow& row) { return PyFloat_FromDouble(row.*member); });
    if (set_item(data.get(), title, values) < 0) return nullptr;
  }
  PyObject* stars =
      column(rows, [](const TableRow& row) { return PyUnicode_FromString(row.stars); });
  if (set_item(data.get(), "Significance", stars) < 0) return nullptr;

  PyRef kwargs(PyDict_New());
  if (!kwargs || PyDict_SetItemString(kwargs.get(), "data", data.get()) < 0) return nullptr;
  PyObject* index = column(rows, [](const TableRow& row) {
    return PyUnicode_FromStringAndSize(row.name.data(), static_cast<Py_ssize_t>(row.name.size()));
  });
  if (set_item(kwargs.get(), "index", index) < 0) return nullptr;

  PyRef data_frame(PyObject_GetAttrString(pandas.get(), "DataFrame"));
  if (!data_frame) return nullptr;
  PyRef no_args(PyTuple_New(0));
  if (!no_args) return nullptr;
  return PyObject_Call(data_frame.get(), no_args.get(), kwargs.get());
}

}  // namespace quillon
