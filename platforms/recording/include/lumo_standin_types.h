/*
 * Record layouts, native method tables and back-end function types of the
 * stand-in platform types.  A client that imports these types (or the
 * back-end's C API) can include this header to talk to them directly.
 *
 * Every record starts with PyObject_HEAD followed by a pointer to the
 * type's method table; the table is also published in the type's dict as
 * "__pyx_vtable__", an unnamed capsule.
 */
#ifndef LUMO_STANDIN_TYPES_H
#define LUMO_STANDIN_TYPES_H

#include <Python.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- LmVector2 ("lumo_ui.fast.lmvector2.lmvector2.LmVector2") ---- */

struct LmVector2VTable {
    /* New LmVector2 (new reference), or NULL with an exception set. */
    PyObject *(*new_)(double x, double y);
};

typedef struct {
    double x;
    double y;
} LmVector2Data;

typedef struct {
    PyObject_HEAD
    struct LmVector2VTable *vtab;
    LmVector2Data data;
} LmVector2Object;

/* ---- LmRect ("lumo_ui.fast.lmrect.lmrect.LmRect") ---- */

struct LmRectVTable {
    PyObject *(*new_)(float x, float y, float w, float h);
};

typedef struct {
    PyObject_HEAD
    struct LmRectVTable *vtab;
    float x, y, w, h;
} LmRectObject;

/* ---- LmShader ("lumo_ui.fast.lmshader.lmshader.LmShader") ---- */

struct LmShaderVTable {
    PyObject *(*c_create_from_code)(PyObject *vertex_code, PyObject *fragment_code);
};

typedef struct {
    PyObject_HEAD
    struct LmShaderVTable *vtab;
    unsigned int id;
    int *locs;
} LmShaderObject;

/* ---- Drawing back-end C API ("lumo_ui.fast.raylib.lumo_raylib") ----
 *
 * The module attribute __pyx_capi__ maps each function name to a capsule
 * whose name is the signature text below.  All functions return void and
 * report failure only by leaving a Python exception set.  skip_dispatch
 * must always be 0.
 */

#define LM_SIG_C_CLEAR_BACKGROUND  "void (PyObject *)"
#define LM_SIG_C_DRAW_TEXTURE_REC  "void (PyObject *, PyObject *, PyObject *, PyObject *)"
#define LM_SIG_C_DRAW_TEXTURE_VEC  "void (PyObject *, PyObject *, PyObject *, int)"
#define LM_SIG_BEGIN_TEXTURE_MODE  "void (PyObject *, int __pyx_skip_dispatch)"
#define LM_SIG_CLEAR_BACKGROUND    "void (PyObject *, int __pyx_skip_dispatch)"
#define LM_SIG_END_BLEND_MODE      "void (int __pyx_skip_dispatch)"
#define LM_SIG_END_TEXTURE_MODE    "void (int __pyx_skip_dispatch)"
#define LM_SIG_BEGIN_BLEND_MODE    "void (int, int __pyx_skip_dispatch)"
#define LM_SIG_C_DRAW_LMTEXTURE_LMVEC \
    "void (struct __pyx_obj_7lumo_ui_4fast_11lmrendertex_13lm_render_tex_LmRenderTexture *, " \
    "struct __pyx_obj_7lumo_ui_4fast_9lmvector2_9lmvector2_LmVector2 *, " \
    "struct __pyx_obj_7lumo_ui_4fast_6lmrect_6lmrect_LmRect *, int)"

typedef void (*LmCClearBackgroundFn)(PyObject *color);
typedef void (*LmCDrawTextureRecFn)(PyObject *texture, PyObject *source,
                                    PyObject *dest, PyObject *color);
typedef void (*LmCDrawTextureVecFn)(PyObject *texture, PyObject *position,
                                    PyObject *color, int flip);
typedef void (*LmBeginTextureModeFn)(PyObject *render_texture, int skip_dispatch);
typedef void (*LmClearBackgroundFn)(PyObject *color, int skip_dispatch);
typedef void (*LmEndBlendModeFn)(int skip_dispatch);
typedef void (*LmEndTextureModeFn)(int skip_dispatch);
typedef void (*LmBeginBlendModeFn)(int mode, int skip_dispatch);
/* render_texture is the caller's own object; rect may be None. */
typedef void (*LmCDrawLmTextureLmVecFn)(PyObject *render_texture, PyObject *position,
                                        PyObject *rect, int flip);

#ifdef __cplusplus
}
#endif

#endif /* LUMO_STANDIN_TYPES_H */
