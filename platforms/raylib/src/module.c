/*
 * lumo_rlplatform._native: the raylib platform's native parts.  It takes
 * raylib's function addresses from the binding's own cffi library, so it
 * drives the very raylib (and GL context) that the binding opened.
 */
#include "platform.h"

static PyMethodDef module_methods[] = {
    {"fast_blit_pro", (PyCFunction)(void (*)(void))display_fast_blit_pro, METH_FASTCALL,
     "fast_blit_pro(texture, dest, flip, color): draw a raylib Texture into the current "
     "target at (x, y), or scaled into (x, y, w, h); flip turns it upside down (a render "
     "target's texture, stored bottom-up, comes out upright)."},
    {"begin_texture_mode", py_begin_texture_mode, METH_O,
     "begin_texture_mode(handle): draw into the live render texture until end_texture_mode."},
    {"end_texture_mode", py_end_texture_mode, METH_NOARGS,
     "end_texture_mode(): draw what is queued into the current render texture and stop "
     "drawing into it."},
    {"_floor", raylib_floor, METH_VARARGS,
     "_floor(kind, handle, texture, n): the raylib work of n draws, for benchmarks."},
    {NULL},
};

static int
exec_module(PyObject *module)
{
    PyObject *binding = PyImport_ImportModule("raylib");
    PyObject *ffi = binding ? PyObject_GetAttrString(binding, "ffi") : NULL;
    PyObject *lib = ffi ? PyObject_GetAttrString(binding, "rl") : NULL;
    int rc = -1;
    if (lib != NULL && values_ready(module) == 0 && convert_init(ffi) == 0 &&
        backend_init(module, ffi, lib) == 0 && lifetimes_init(module) == 0) {
        rc = 0;
    }
    Py_XDECREF(lib);
    Py_XDECREF(ffi);
    Py_XDECREF(binding);
    return rc;
}

static PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, exec_module},
    {0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    .m_name = "lumo_rlplatform._native",
    .m_doc = "Native parts of the raylib platform: value types, drawing back-end, display blit.",
    .m_methods = module_methods,
    .m_slots = module_slots,
};

PyMODINIT_FUNC
PyInit__native(void)
{
    return PyModuleDef_Init(&module_def);
}
