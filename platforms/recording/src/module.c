/*
 * lumo_standin._native: the native half of the recording platform.
 *
 *  - the value types LmVector2 and LmRect and the LmShader handle type,
 *    each with its native method table (values.c);
 *  - the drawing back-end functions, exported through a C-API dict of
 *    signature-named capsules (backend.c);
 *  - the call log's native side and quiet mode (calllog.c), and the broken
 *    variants (breaks.c);
 *  - Floor, a do-nothing callable used as the floor of benchmarks (floor.c).
 */
#include "platform.h"

static PyMethodDef module_methods[] = {
    {"_connect", (PyCFunction)(void (*)(void))calllog_connect, METH_FASTCALL,
     "_connect(record, report_skip_dispatch): install the call log."},
    {"_set_quiet", calllog_set_quiet, METH_O, "_set_quiet(flag): switch quiet mode."},
    {"_is_quiet", calllog_is_quiet, METH_NOARGS, "_is_quiet() -> bool"},
    {"_build_capi", backend_build_capi, METH_NOARGS, "_build_capi() -> the back-end C-API dict."},
    {"begin_texture_mode", py_begin_texture_mode, METH_O, NULL},
    {"clear_background", py_clear_background, METH_O, NULL},
    {"end_blend_mode", py_end_blend_mode, METH_NOARGS, NULL},
    {"end_texture_mode", py_end_texture_mode, METH_NOARGS, NULL},
    {"begin_blend_mode", py_begin_blend_mode, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

/* The state lives in C globals, so the module is set up once per process. */
static int started = 0;

/* The names come first: lumo_standin._breaks, imported next, reads
 * CAPI_NAMES from this module while it is still being set up (it is in
 * sys.modules by then), to check the variants named in LUMO_STANDIN_BREAK
 * before any type is built with them. */
static int
exec_module(PyObject *module)
{
    if (started) {
        PyErr_SetString(PyExc_ImportError,
                        "lumo_standin._native can be set up only once per process");
        return -1;
    }
    if (calllog_names_ready(module) < 0 || breaks_ready() < 0 || values_ready(module) < 0
        || floor_ready(module) < 0) {
        values_clear();
        floor_clear();
        breaks_clear();
        return -1;
    }
    started = 1;
    return 0;
}

static PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, exec_module},
    {0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    .m_name = "lumo_standin._native",
    .m_doc = "Native stand-ins of the platform types and of the drawing back-end.",
    .m_methods = module_methods,
    .m_slots = module_slots,
};

PyMODINIT_FUNC
PyInit__native(void)
{
    return PyModuleDef_Init(&module_def);
}
