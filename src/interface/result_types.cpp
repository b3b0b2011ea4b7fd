#include "interface/result_types.hpp"

#include <memory>
#include <new>
#include <utility>

#include "interface/lists.hpp"
#include "interface/panic.hpp"
#include "interface/text.hpp"
#include "public_texts.hpp"

namespace quillon {
namespace {

// The instances: the object header, then the record. Each class's type
// object is created on first use and kept for the life of the process.
struct ModelObject {
  static constexpr const char* kClassName = texts::kModelClass;
  static inline PyTypeObject* type = nullptr;
  PyObject ob_base;
  ModelRecord record;
};

struct ResultsObject {
  static constexpr const char* kClassName = texts::kResultsClass;
  static inline PyTypeObject* type = nullptr;
  PyObject ob_base;
  ResultsRecord record;
};

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, texts::kNoConstructor);
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

// The allocator of both types: every instance holds a record from the start,
// empty until allocate() fills it, so that an instance made some other way
// (object.__new__) is still safe to read and to destroy.
template <class Object>
PyObject* alloc_with_record(PyTypeObject* type, Py_ssize_t items) {
  PyObject* self = PyType_GenericAlloc(type, items);
  if (self != nullptr) new (&reinterpret_cast<Object*>(self)->record) decltype(Object::record)();
  return self;
}

// Allocates an instance of the class and moves the record into it.
template <class Object, class Record>
PyObject* allocate(Record&& record) {
  auto alloc_slot = reinterpret_cast<allocfunc>(PyType_GetSlot(Object::type, Py_tp_alloc));
  PyObject* self = alloc_slot(Object::type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<Object*>(self)->record = std::forward<Record>(record);
  return self;
}

bool filled(const ModelRecord& record) { return record.exog && record.endog; }
bool filled(const ResultsRecord& record) {
  return record.params && record.cov_params && filled(record.model);
}

// The record of `self`, or nullptr with a TypeError when self is not an
// instance of the class (the descriptors normally refuse such calls first)
// or holds an empty record.
template <class Object>
Object* instance(PyObject* self) {
  if (Object::type == nullptr || !PyObject_TypeCheck(self, Object::type)) {
    raise_conversion_failure(self, Object::kClassName);
    return nullptr;
  }
  auto* object = reinterpret_cast<Object*>(self);
  if (!filled(object->record)) {
    PyErr_Format(PyExc_TypeError, texts::kEmptyObjectFormat,
                 Object::kClassName);
    return nullptr;
  }
  return object;
}

// What a getter hands out for each kind of record field: the stored array
// itself, or a new Python value.
PyObject* to_python(const PyRef& array) { return PyRef::borrow(array.get()).release(); }
PyObject* to_python(double value) { return PyFloat_FromDouble(value); }
PyObject* to_python(std::uint64_t value) { return PyLong_FromUnsignedLongLong(value); }
PyObject* to_python(bool value) { return PyBool_FromLong(value); }
PyObject* to_python(const std::vector<std::string>& names) {
  return guard_native([&] { return names_to_python(names); });
}

// The getter of one field of the record of an Object.
template <class Object, auto Field>
PyObject* get(PyObject* self, void*) {
  Object* object = instance<Object>(self);
  return object ? to_python(object->record.*Field) : nullptr;
}

// CorvidProbitModel

PyGetSetDef model_getset[] = {
    {"exog", get<ModelObject, &ModelRecord::exog>, nullptr, nullptr, nullptr},
    {"endog", get<ModelObject, &ModelRecord::endog>, nullptr, nullptr, nullptr},
    {"exog_names", get<ModelObject, &ModelRecord::exog_names>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot model_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_alloc, reinterpret_cast<void*>(alloc_with_record<ModelObject>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<ModelObject>)},
    {Py_tp_getset, model_getset},
    {0, nullptr},
};

// Immutable, so that Python code cannot replace __new__ or the attributes.
PyType_Spec model_spec = {
    texts::kModelTypeName,
    sizeof(ModelObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    model_slots,
};

// CorvidProbitResults

PyObject* results_cov_params(PyObject* self, PyObject*) {
  return get<ResultsObject, &ResultsRecord::cov_params>(self, nullptr);
}

template <class Object>
int ensure_type(PyType_Spec& spec) {
  if (Object::type != nullptr) return 0;
  PyRef created(PyType_FromSpec(&spec));
  if (!created) {
    PyErr_Print();
    raise_panic(Panic{std::string(texts::kTypeObjectFailed) + Object::kClassName,
                      SourceLocation::current()});
    return -1;
  }
  // Creating a type can run Python code (a garbage collection callback, a
  // __del__) that lets another thread in, which may have stored a type of its
  // own by now: keep that one, so that there is only ever one type.
  if (Object::type == nullptr) Object::type = reinterpret_cast<PyTypeObject*>(created.release());
  return 0;
}

PyObject* results_model(PyObject* self, void*) {
  ResultsObject* r = instance<ResultsObject>(self);
  if (r == nullptr) return nullptr;
  return guard_native([&]() -> PyObject* {
    ModelRecord copy{PyRef::borrow(r->record.model.exog.get()),
                     PyRef::borrow(r->record.model.endog.get()), r->record.model.exog_names};
    if (ensure_type<ModelObject>(model_spec) < 0) return nullptr;
    return allocate<ModelObject>(std::move(copy));
  });
}

PyGetSetDef results_getset[] = {
    {"params", get<ResultsObject, &ResultsRecord::params>, nullptr, nullptr, nullptr},
    {"model", results_model, nullptr, nullptr, nullptr},
    {"loglike", get<ResultsObject, &ResultsRecord::loglike>, nullptr, nullptr, nullptr},
    {"iterations", get<ResultsObject, &ResultsRecord::iterations>, nullptr, nullptr, nullptr},
    {"converged", get<ResultsObject, &ResultsRecord::converged>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef results_methods[] = {
    {"cov_params", results_cov_params, METH_NOARGS, texts::kCovParamsDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot results_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_alloc, reinterpret_cast<void*>(alloc_with_record<ResultsObject>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<ResultsObject>)},
    {Py_tp_getset, results_getset},
    {Py_tp_methods, results_methods},
    {0, nullptr},
};

PyType_Spec results_spec = {
    texts::kResultsTypeName,
    sizeof(ResultsObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    results_slots,
};

}  // namespace

PyObject* new_results_object(ResultsRecord record) {
  if (ensure_type<ResultsObject>(results_spec) < 0) return nullptr;
  return allocate<ResultsObject>(std::move(record));
}

}  // namespace quillon
