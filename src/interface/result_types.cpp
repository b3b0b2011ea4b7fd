#include "interface/result_types.hpp"

#include <memory>
#include <new>
#include <utility>

#include "interface/arrays.hpp"
#include "interface/panic.hpp"

namespace quillon {
namespace {

struct ModelObject {
  PyObject ob_base;
  ModelRecord record;
};

struct ResultsObject {
  PyObject ob_base;
  ResultsRecord record;
};

// The two type objects, created on first use and kept for the life of the
// process.
PyTypeObject* model_type = nullptr;
PyTypeObject* results_type = nullptr;

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

template <class Object>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<Object*>(self)->record);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

// Allocates an instance of `type` and moves the record into it.
template <class Object, class Record>
PyObject* allocate(PyTypeObject* type, Record&& record) {
  auto alloc_slot = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc_slot(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<Object*>(self)->record) Record(std::forward<Record>(record));
  return self;
}

// The record of `self`, or nullptr with a TypeError when self is not an
// instance of the class (the descriptors normally refuse such calls first).
template <class Object>
Object* instance(PyObject* self, PyTypeObject* type, const char* class_name) {
  if (type == nullptr || !PyObject_TypeCheck(self, type)) {
    raise_conversion_failure(self, class_name);
    return nullptr;
  }
  return reinterpret_cast<Object*>(self);
}

PyObject* new_reference(const PyRef& ref) { return PyRef::borrow(ref.get()).release(); }

// CorvidProbitModel

ModelObject* model_of(PyObject* self) {
  return instance<ModelObject>(self, model_type, "CorvidProbitModel");
}

PyObject* model_exog(PyObject* self, void*) {
  ModelObject* m = model_of(self);
  return m ? new_reference(m->record.exog) : nullptr;
}

PyObject* model_endog(PyObject* self, void*) {
  ModelObject* m = model_of(self);
  return m ? new_reference(m->record.endog) : nullptr;
}

PyObject* model_exog_names(PyObject* self, void*) {
  ModelObject* m = model_of(self);
  return m ? guard_native([&] { return names_to_python(m->record.exog_names); }) : nullptr;
}

PyGetSetDef model_getset[] = {
    {"exog", model_exog, nullptr, nullptr, nullptr},
    {"endog", model_endog, nullptr, nullptr, nullptr},
    {"exog_names", model_exog_names, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot model_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<ModelObject>)},
    {Py_tp_getset, model_getset},
    {0, nullptr},
};

PyType_Spec model_spec = {
    "builtins.CorvidProbitModel", sizeof(ModelObject), 0, Py_TPFLAGS_DEFAULT, model_slots,
};

// CorvidProbitResults

ResultsObject* results_of(PyObject* self) {
  return instance<ResultsObject>(self, results_type, "CorvidProbitResults");
}

PyObject* results_params(PyObject* self, void*) {
  ResultsObject* r = results_of(self);
  return r ? new_reference(r->record.params) : nullptr;
}

PyObject* results_cov_params(PyObject* self, PyObject*) {
  ResultsObject* r = results_of(self);
  return r ? new_reference(r->record.cov_params) : nullptr;
}

PyObject* results_loglike(PyObject* self, void*) {
  ResultsObject* r = results_of(self);
  return r ? PyFloat_FromDouble(r->record.loglike) : nullptr;
}

PyObject* results_iterations(PyObject* self, void*) {
  ResultsObject* r = results_of(self);
  return r ? PyLong_FromUnsignedLongLong(r->record.iterations) : nullptr;
}

PyObject* results_converged(PyObject* self, void*) {
  ResultsObject* r = results_of(self);
  return r ? PyBool_FromLong(r->record.converged) : nullptr;
}

int ensure_type(PyTypeObject*& type, PyType_Spec& spec, const char* class_name) {
  if (type != nullptr) return 0;
  type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  if (type != nullptr) return 0;
  PyErr_Print();
  raise_panic(Panic{std::string("failed to create type object for ") + class_name,
                    SourceLocation::current()});
  return -1;
}

PyObject* results_model(PyObject* self, void*) {
  ResultsObject* r = results_of(self);
  if (r == nullptr) return nullptr;
  return guard_native([&]() -> PyObject* {
    ModelRecord copy{PyRef::borrow(r->record.model.exog.get()),
                     PyRef::borrow(r->record.model.endog.get()), r->record.model.exog_names};
    if (ensure_type(model_type, model_spec, "CorvidProbitModel") < 0) return nullptr;
    return allocate<ModelObject>(model_type, std::move(copy));
  });
}

PyGetSetDef results_getset[] = {
    {"params", results_params, nullptr, nullptr, nullptr},
    {"model", results_model, nullptr, nullptr, nullptr},
    {"loglike", results_loglike, nullptr, nullptr, nullptr},
    {"iterations", results_iterations, nullptr, nullptr, nullptr},
    {"converged", results_converged, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef results_methods[] = {
    {"cov_params", results_cov_params, METH_NOARGS, "cov_params($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot results_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<ResultsObject>)},
    {Py_tp_getset, results_getset},
    {Py_tp_methods, results_methods},
    {0, nullptr},
};

PyType_Spec results_spec = {
    "builtins.CorvidProbitResults", sizeof(ResultsObject), 0, Py_TPFLAGS_DEFAULT, results_slots,
};

}  // namespace

PyObject* new_results_object(ResultsRecord record) {
  if (ensure_type(results_type, results_spec, "CorvidProbitResults") < 0) return nullptr;
  return allocate<ResultsObject>(results_type, std::move(record));
}

}  // namespace quillon
