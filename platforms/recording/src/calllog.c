/*
 * The native side of the call log: the names of the calls recorded from C,
 * recording them through the Python recorder (lumo_standin.calllog, which
 * appends the entry and raises a failure armed for it), quiet mode, and the
 * checks every recorded call makes first.
 */
#include "platform.h"

int quiet_mode = 0;
PyObject *call_names[N_COUNT];

static PyObject *recorder = NULL;      /* callable(name, *args) */
static PyObject *skip_reporter = NULL; /* callable(name, value) */

#define BACKEND_NAME_TEXT(ID, name) #name,
#define CONSTRUCTOR_NAME_TEXT(ID, name) name,
static const char *const call_name_text[N_COUNT] = {
    BACKEND_FUNCTIONS(BACKEND_NAME_TEXT) TABLE_CONSTRUCTORS(CONSTRUCTOR_NAME_TEXT)
};
#undef BACKEND_NAME_TEXT
#undef CONSTRUCTOR_NAME_TEXT

/* Adds the first n names to the module as a tuple named `attribute`. */
static int
add_names(PyObject *module, const char *attribute, int n)
{
    PyObject *tuple = PyTuple_New(n);
    if (tuple == NULL) {
        return -1;
    }
    for (int i = 0; i < n; i++) {
        PyTuple_SET_ITEM(tuple, i, Py_NewRef(call_names[i]));
    }
    int rc = PyModule_AddObjectRef(module, attribute, tuple);
    Py_DECREF(tuple);
    return rc;
}

int
calllog_names_ready(PyObject *module)
{
    for (int i = 0; i < N_COUNT; i++) {
        if (call_names[i] == NULL) {
            call_names[i] = PyUnicode_InternFromString(call_name_text[i]);
            if (call_names[i] == NULL) {
                return -1;
            }
        }
    }
    return add_names(module, "CALL_NAMES", N_COUNT) < 0
               || add_names(module, "CAPI_NAMES", N_CAPI_COUNT) < 0
               ? -1 : 0;
}

/* A back-end function must not be entered with an exception pending: that
 * means the caller ignored an earlier failure.  Turn it into a SystemError
 * that keeps the pending one as its context. */
int
check_clean(int which)
{
    if (!PyErr_Occurred()) {
        return 0;
    }
    PyObject *pending = PyErr_GetRaisedException();
    PyErr_Format(PyExc_SystemError, "%U called with an exception set", call_names[which]);
    PyObject *exc = PyErr_GetRaisedException();
    PyException_SetContext(exc, pending);
    PyErr_SetRaisedException(exc);
    return -1;
}

int
record(int which, Py_ssize_t nargs, PyObject *const *args)
{
    PyObject *stack[8];

    if (recorder == NULL) {
        PyErr_SetString(PyExc_SystemError, "stand-in call log is not connected");
        return -1;
    }
    stack[0] = call_names[which];
    for (Py_ssize_t i = 0; i < nargs; i++) {
        if (args[i] == NULL) {
            PyErr_Format(PyExc_SystemError, "%U: argument %zd is NULL", call_names[which],
                         i + 1);
            return -1;
        }
        stack[i + 1] = args[i];
    }
    PyObject *rec = Py_NewRef(recorder);
    PyObject *res = PyObject_Vectorcall(rec, stack, (size_t)nargs + 1, NULL);
    Py_DECREF(rec);
    if (res == NULL) {
        return -1;
    }
    Py_DECREF(res);
    return 0;
}

int
record_with_int(int which, Py_ssize_t nobj, PyObject *const *objs, long flag)
{
    PyObject *stack[8];
    PyObject *num = PyLong_FromLong(flag);
    if (num == NULL) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < nobj; i++) {
        stack[i] = objs[i];
    }
    stack[nobj] = num;
    int rc = record(which, nobj + 1, stack);
    Py_DECREF(num);
    return rc;
}

/* skip_dispatch must be 0.  Anything else is reported to the log's
 * separate list and raised as AssertionError; the call is not recorded. */
int
report_skip_dispatch(int which, int skip_dispatch)
{
    if (check_clean(which) < 0) {
        return -1;
    }
    if (skip_reporter != NULL) {
        PyObject *res = PyObject_CallFunction(skip_reporter, "Oi", call_names[which],
                                              skip_dispatch);
        if (res == NULL) {
            return -1;
        }
        Py_DECREF(res);
    }
    PyErr_Format(PyExc_AssertionError, "%U: skip_dispatch must be 0, got %d",
                 call_names[which], skip_dispatch);
    return -1;
}

/* _connect(record, report_skip_dispatch) */
PyObject *
calllog_connect(PyObject *module, PyObject *const *args, Py_ssize_t nargs)
{
    (void)module;
    if (nargs != 2 || !PyCallable_Check(args[0]) || !PyCallable_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "_connect() needs two callables");
        return NULL;
    }
    PyObject *old_recorder = recorder, *old_reporter = skip_reporter;
    recorder = Py_NewRef(args[0]);
    skip_reporter = Py_NewRef(args[1]);
    Py_XDECREF(old_recorder);
    Py_XDECREF(old_reporter);
    Py_RETURN_NONE;
}

PyObject *
calllog_set_quiet(PyObject *module, PyObject *arg)
{
    (void)module;
    int on = PyObject_IsTrue(arg);
    if (on < 0) {
        return NULL;
    }
    quiet_mode = on;
    Py_RETURN_NONE;
}

PyObject *
calllog_is_quiet(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    return PyBool_FromLong(quiet_mode);
}
