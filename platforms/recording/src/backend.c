/*
 * The drawing back-end: a stand-in for each function of BACKEND_FUNCTIONS,
 * which records the call and does nothing else, exported through a C-API
 * dict of capsules named by their signature texts (_build_capi), and the
 * Python-callable forms of the dispatchable ones.
 */
#include "platform.h"


static void
be_c_clear_background(PyObject *color)
{
    if (quiet_mode || check_clean(N_C_CLEAR_BACKGROUND) < 0) {
        return;
    }
    (void)record(N_C_CLEAR_BACKGROUND, 1, &color);
}

static void
be_c_draw_texture_rec(PyObject *texture, PyObject *source, PyObject *dest, PyObject *color)
{
    if (quiet_mode || check_clean(N_C_DRAW_TEXTURE_REC) < 0) {
        return;
    }
    PyObject *a[4] = {texture, source, dest, color};
    (void)record(N_C_DRAW_TEXTURE_REC, 4, a);
}

static void
be_c_draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip)
{
    if (quiet_mode || check_clean(N_C_DRAW_TEXTURE_VEC) < 0) {
        return;
    }
    PyObject *a[3] = {texture, position, color};
    (void)record_with_int(N_C_DRAW_TEXTURE_VEC, 3, a, flip);
}

static void
be_begin_texture_mode(PyObject *render_texture, int skip_dispatch)
{
    if (check_skip_dispatch(N_BEGIN_TEXTURE_MODE, skip_dispatch) < 0
        || quiet_mode || check_clean(N_BEGIN_TEXTURE_MODE) < 0) {
        return;
    }
    (void)record(N_BEGIN_TEXTURE_MODE, 1, &render_texture);
}

static void
be_clear_background(PyObject *color, int skip_dispatch)
{
    if (check_skip_dispatch(N_CLEAR_BACKGROUND, skip_dispatch) < 0
        || quiet_mode || check_clean(N_CLEAR_BACKGROUND) < 0) {
        return;
    }
    (void)record(N_CLEAR_BACKGROUND, 1, &color);
}

static void
be_end_blend_mode(int skip_dispatch)
{
    if (check_skip_dispatch(N_END_BLEND_MODE, skip_dispatch) < 0
        || quiet_mode || check_clean(N_END_BLEND_MODE) < 0) {
        return;
    }
    (void)record(N_END_BLEND_MODE, 0, NULL);
}

static void
be_end_texture_mode(int skip_dispatch)
{
    if (check_skip_dispatch(N_END_TEXTURE_MODE, skip_dispatch) < 0
        || quiet_mode || check_clean(N_END_TEXTURE_MODE) < 0) {
        return;
    }
    (void)record(N_END_TEXTURE_MODE, 0, NULL);
}

static void
be_begin_blend_mode(int mode, int skip_dispatch)
{
    if (check_skip_dispatch(N_BEGIN_BLEND_MODE, skip_dispatch) < 0
        || quiet_mode || check_clean(N_BEGIN_BLEND_MODE) < 0) {
        return;
    }
    (void)record_with_int(N_BEGIN_BLEND_MODE, 0, NULL, mode);
}

static void
be_c_draw_lmtexture_lmvec(PyObject *render_texture, PyObject *position, PyObject *rect,
                          int flip)
{
    if (quiet_mode || check_clean(N_C_DRAW_LMTEXTURE_LMVEC) < 0) {
        return;
    }
    PyObject *a[3] = {render_texture, position, rect};
    (void)record_with_int(N_C_DRAW_LMTEXTURE_LMVEC, 3, a, flip);
}

typedef struct {
    const char *signature;
    void *fn;
} CapiEntry;

/* Indexed like call_names[]: entry i is exported under call_call_names[i]. */
#define CAPI_ENTRY(ID, name) {LM_SIG_##ID, (void *)be_##name},
static const CapiEntry capi_entries[N_CAPI_COUNT] = {BACKEND_FUNCTIONS(CAPI_ENTRY)};
#undef CAPI_ENTRY

static const char wrong_signature[] = "void (long)";

/* _build_capi() -> dict: the back-end's C API, with the broken variants
 * capi-missing:NAME and capi-signature:NAME applied. */
PyObject *
backend_build_capi(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    PyObject *capi = PyDict_New();
    if (capi == NULL) {
        return NULL;
    }
    for (int i = 0; i < N_CAPI_COUNT; i++) {
        const CapiEntry *e = &capi_entries[i];
        const char *name = PyUnicode_AsUTF8(call_names[i]);
        if (name == NULL) {
            goto fail;
        }
        int missing = broken("capi-missing", name);
        int wrong = missing ? 0 : broken("capi-signature", name);
        if (missing < 0 || wrong < 0) {
            goto fail;
        }
        if (missing) {
            continue;
        }
        PyObject *cap = PyCapsule_New(e->fn, wrong ? wrong_signature : e->signature, NULL);
        if (cap == NULL) {
            goto fail;
        }
        int rc = PyDict_SetItem(capi, call_names[i], cap);
        Py_DECREF(cap);
        if (rc < 0) {
            goto fail;
        }
    }
    return capi;
fail:
    Py_DECREF(capi);
    return NULL;
}

/* Python-callable forms of the back-end's dispatchable functions. */

static PyObject *
finish_void_call(void)
{
    if (PyErr_Occurred()) {
        return NULL;
    }
    Py_RETURN_NONE;
}

PyObject *
py_begin_texture_mode(PyObject *module, PyObject *render_texture)
{
    (void)module;
    be_begin_texture_mode(render_texture, 0);
    return finish_void_call();
}

PyObject *
py_clear_background(PyObject *module, PyObject *color)
{
    (void)module;
    be_clear_background(color, 0);
    return finish_void_call();
}

PyObject *
py_end_blend_mode(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    be_end_blend_mode(0);
    return finish_void_call();
}

PyObject *
py_end_texture_mode(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    be_end_texture_mode(0);
    return finish_void_call();
}

PyObject *
py_begin_blend_mode(PyObject *module, PyObject *arg)
{
    (void)module;
    int mode;
    if (!PyArg_Parse(arg, "i:begin_blend_mode", &mode)) {
        return NULL;
    }
    be_begin_blend_mode(mode, 0);
    return finish_void_call();
}

