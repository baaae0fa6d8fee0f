/*
 * The broken variants that LUMO_STANDIN_BREAK selects, for import-failure
 * tests: lumo_standin._breaks parses the variable and answers here.
 */
#include "platform.h"

static PyObject *breaks_module = NULL;

int
breaks_ready(void)
{
    breaks_module = PyImport_ImportModule("lumo_standin._breaks");
    return breaks_module == NULL ? -1 : 0;
}

void
breaks_clear(void)
{
    Py_CLEAR(breaks_module);
}

int
broken(const char *kind, const char *arg)
{
    PyObject *res = PyObject_CallMethod(breaks_module, "active", "ss", kind, arg);
    if (res == NULL) {
        return -1;
    }
    int on = PyObject_IsTrue(res);
    Py_DECREF(res);
    return on;
}
