/*
 * Floor: the cheapest C callable there is.  Its noop method does nothing,
 * so a benchmark's statement calling it measures the cost of the call
 * itself, the floor that the drawing operations are compared with.
 */
#include "platform.h"

static PyTypeObject *floor_type = NULL;

static PyObject *
floor_noop(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)
{
    (void)self;
    (void)args;
    (void)nargs;
    (void)kwnames;
    Py_RETURN_NONE;
}

static PyMethodDef floor_methods[] = {
    {"noop", (PyCFunction)(void (*)(void))floor_noop, METH_FASTCALL | METH_KEYWORDS,
     "noop(*args, **kwargs): return None at once."},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot floor_slots[] = {
    {Py_tp_doc, "Floor(): its noop method does nothing; the floor of benchmarks."},
    {Py_tp_new, PyType_GenericNew},
    {Py_tp_dealloc, plain_dealloc},
    {Py_tp_methods, floor_methods},
    {0, NULL},
};

static PyType_Spec floor_spec = {
    "lumo_standin._native.Floor",
    sizeof(PyObject),
    0,
    Py_TPFLAGS_DEFAULT,
    floor_slots,
};


int
floor_ready(PyObject *module)
{
    floor_type = (PyTypeObject *)PyType_FromSpec(&floor_spec);
    if (floor_type == NULL) {
        return -1;
    }
    return PyModule_AddObjectRef(module, "Floor", (PyObject *)floor_type);
}

void
floor_clear(void)
{
    Py_CLEAR(floor_type);
}
