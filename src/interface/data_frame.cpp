#include "interface/data_frame.hpp"

#include <array>
#include <utility>

#include "interface/lists.hpp"
#include "interface/py_ref.hpp"
#include "interface/text.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

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
      {texts::kEffectColumn, &TableRow::effect},
      {texts::kStdErrColumn, &TableRow::std_error},
      {texts::kZColumn, &TableRow::z},
      {texts::kPValueColumn, &TableRow::p_value},
  }};
  for (const auto& [title, field] : numeric) {
    // Copied by name: clang before 16 cannot capture a structured binding.
    PyObject* values = new_list(
        rows, [member = field](const TableRow& row) { return PyFloat_FromDouble(row.*member); });
    if (set_item(data.get(), title, values) < 0) return nullptr;
  }
  PyObject* stars =
      new_list(rows, [](const TableRow& row) { return PyUnicode_FromString(row.stars); });
  if (set_item(data.get(), texts::kSignificanceColumn, stars) < 0) return nullptr;

  PyRef kwargs(PyDict_New());
  if (!kwargs || PyDict_SetItemString(kwargs.get(), "data", data.get()) < 0) return nullptr;
  PyObject* index = new_list(rows, [](const TableRow& row) { return new_str(row.name); });
  if (set_item(kwargs.get(), "index", index) < 0) return nullptr;

  PyRef data_frame(PyObject_GetAttrString(pandas.get(), "DataFrame"));
  if (!data_frame) return nullptr;
  PyRef no_args(PyTuple_New(0));
  if (!no_args) return nullptr;
  return PyObject_Call(data_frame.get(), no_args.get(), kwargs.get());
}

}  // namespace quillon
