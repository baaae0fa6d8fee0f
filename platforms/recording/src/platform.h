/*
 * Shared declarations of the recording platform's native module
 * (lumo_standin._native): the list of the drawing back-end's functions, the
 * names the call log receives from here, and what each file offers the
 * others.
 *
 * Every call into the back-end and every constructor called through a
 * method table is recorded by calling the Python recorder installed with
 * _connect() (lumo_standin.calllog), which also raises the failures armed
 * there.  In quiet mode (a plain C flag) nothing is recorded and the
 * back-end functions return at once.
 */
#ifndef LUMO_STANDIN_PLATFORM_H
#define LUMO_STANDIN_PLATFORM_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lumo_standin_types.h"

/* The drawing back-end's functions, in the order of its C-API dict.  This
 * one list yields their call-log names (the N_* below), their capsules
 * (backend.c) and the names the Python side selects broken variants by
 * (published as CAPI_NAMES, read by lumo_standin._breaks).
 * X(ID, name): the capsule is named by the signature text LM_SIG_<ID> of
 * lumo_standin_types.h, `name` is the function's name in the C API and in
 * the call log, and be_<name> in backend.c stands in for it. */
#define BACKEND_FUNCTIONS(X)                          \
    X(C_CLEAR_BACKGROUND, c_clear_background)         \
    X(C_DRAW_TEXTURE_REC, c_draw_texture_rec)         \
    X(C_DRAW_TEXTURE_VEC, c_draw_texture_vec)         \
    X(BEGIN_TEXTURE_MODE, begin_texture_mode)         \
    X(CLEAR_BACKGROUND, clear_background)             \
    X(END_BLEND_MODE, end_blend_mode)                 \
    X(END_TEXTURE_MODE, end_texture_mode)             \
    X(BEGIN_BLEND_MODE, begin_blend_mode)             \
    X(C_DRAW_LMTEXTURE_LMVEC, c_draw_lmtexture_lmvec)

/* The constructors reached through the value types' method tables, which
 * the call log records too.  X(ID, name in the call log). */
#define TABLE_CONSTRUCTORS(X)                         \
    X(VECTOR2_NEW, "LmVector2.new")                   \
    X(RECT_NEW, "LmRect.new")                         \
    X(SHADER_CREATE, "LmShader.c_create_from_code")

/* The names of the calls recorded from C: the back-end's first, then the
 * constructors'. */
#define CALL_NAME_ID(ID, name) N_##ID,
enum { BACKEND_FUNCTIONS(CALL_NAME_ID) TABLE_CONSTRUCTORS(CALL_NAME_ID) N_COUNT };
#undef CALL_NAME_ID

#define COUNT_ONE(ID, name) +1
enum { N_CAPI_COUNT = 0 BACKEND_FUNCTIONS(COUNT_ONE) };
#undef COUNT_ONE

/* ---- calllog.c: the call log, quiet mode, the names ---- */

extern int quiet_mode;
/* Interned, indexed by N_*. */
extern PyObject *call_names[N_COUNT];

/* Publishes CALL_NAMES (every name in call_names) and CAPI_NAMES (the
 * back-end's) on the module.  0, or -1 with an exception set. */
int calllog_names_ready(PyObject *module);
/* Record (name, *args) in the call log; the recorder may raise an armed
 * failure.  0, or -1 with an exception set. */
int record(int which, Py_ssize_t nargs, PyObject *const *args);
/* The same with a C int appended as the last argument. */
int record_with_int(int which, Py_ssize_t nobj, PyObject *const *objs, long flag);
/* -1 with a SystemError when entered with an exception already set. */
int check_clean(int which);
/* -1 with an AssertionError, reported to the log, for a non-zero
 * skip_dispatch.  The usual zero is decided here, inline, so that the
 * benchmarks' rows do not pay a call into another file for it. */
int report_skip_dispatch(int which, int skip_dispatch);
static inline int
check_skip_dispatch(int which, int skip_dispatch)
{
    return skip_dispatch == 0 ? 0 : report_skip_dispatch(which, skip_dispatch);
}

PyObject *calllog_connect(PyObject *module, PyObject *const *args, Py_ssize_t nargs);
PyObject *calllog_set_quiet(PyObject *module, PyObject *arg);
PyObject *calllog_is_quiet(PyObject *module, PyObject *ignored);

/* ---- breaks.c: the broken variants chosen by LUMO_STANDIN_BREAK ---- */

/* Imports lumo_standin._breaks, which parses the variable.  0 or -1. */
int breaks_ready(void);
void breaks_clear(void);
/* Is the broken variant (kind, arg) selected?  1 yes, 0 no, -1 error. */
int broken(const char *kind, const char *arg);

/* ---- values.c: LmVector2, LmRect, LmShader ---- */

/* Builds the value types, with the broken variants applied, and adds them
 * to the module.  0 or -1. */
int values_ready(PyObject *module);
/* Drops the types after a failed start. */
void values_clear(void);
/* tp_dealloc of a heap type whose objects hold no references. */
void plain_dealloc(PyObject *self);

/* ---- backend.c: the drawing back-end ---- */

PyObject *backend_build_capi(PyObject *module, PyObject *ignored);
PyObject *py_begin_texture_mode(PyObject *module, PyObject *render_texture);
PyObject *py_clear_background(PyObject *module, PyObject *color);
PyObject *py_end_blend_mode(PyObject *module, PyObject *ignored);
PyObject *py_end_texture_mode(PyObject *module, PyObject *ignored);
PyObject *py_begin_blend_mode(PyObject *module, PyObject *mode);

/* ---- floor.c: the do-nothing callable of benchmarks ---- */

int floor_ready(PyObject *module);
void floor_clear(void);

#endif /* LUMO_STANDIN_PLATFORM_H */
