/*
 * The drawing back-end: the nine functions of the C API that render
 * targets call (published in __pyx_capi__ under their signature texts) and
 * the display's fast_blit_pro.  Each checks its arguments completely before
 * it calls raylib, so a bad argument raises and draws nothing.  Reading a
 * number may run Python code (__float__, __index__, __bool__) that closes
 * the window, so the window, the thread and the life of the handles named
 * are checked after the last such read.
 */
#include "platform.h"

RaylibApi rl;

static const RlVector2 NO_ORIGIN = {0.0f, 0.0f};

/* Draws the whole texture scaled into dest; flip mirrors it vertically
 * (raylib's negative source height). */
static void
draw_into(const RlTexture *tex, RlRectangle dest, int flip, RlColor tint)
{
    float h = (float)tex->height;
    RlRectangle source = {0.0f, 0.0f, (float)tex->width, flip ? -h : h};
    rl.DrawTexturePro(*tex, source, dest, NO_ORIGIN, 0.0f, tint);
}

/* The same at its own size, with its top-left corner at (x, y). */
void
draw_at(const RlTexture *tex, float x, float y, int flip, RlColor tint)
{
    draw_into(tex, (RlRectangle){x, y, (float)tex->width, (float)tex->height}, flip, tint);
}

static void
c_clear_background(PyObject *color)
{
    RlColor c;
    if (read_color(color, &c, RL_BLANK) < 0 || platform_guard() < 0) {
        return;
    }
    draw_queued();  /* a clear is not queued: earlier draws would land on it */
    rl.ClearBackground(c);
}

static void
c_draw_texture_rec(PyObject *texture, PyObject *source, PyObject *dest, PyObject *color)
{
    RlTexture tex;
    float s[4], d[4];
    RlColor tint;
    if (read_texture(texture, &tex) < 0 ||
        read_floats(source, s, 4, "the source rectangle") < 0 ||
        read_floats(dest, d, 4, "the destination rectangle") < 0 ||
        read_color(color, &tint, RL_WHITE) < 0 || platform_guard() < 0 ||
        check_source(texture, &tex, SOURCE) < 0) {
        return;
    }
    rl.DrawTexturePro(tex, (RlRectangle){s[0], s[1], s[2], s[3]},
                      (RlRectangle){d[0], d[1], d[2], d[3]}, NO_ORIGIN, 0.0f, tint);
}

static void
c_draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip)
{
    RlTexture tex;
    float p[2];
    RlColor tint;
    if (read_texture(texture, &tex) < 0 || read_floats(position, p, 2, "the position") < 0 ||
        read_color(color, &tint, RL_WHITE) < 0 || platform_guard() < 0 ||
        check_source(texture, &tex, SOURCE) < 0) {
        return;
    }
    draw_at(&tex, p[0], p[1], flip, tint);
}

/* The render target's lazily found type: the back-end is imported while
 * that module initialises, so it cannot be looked up at start-up. */
static PyTypeObject *render_target_type;

static int
check_render_target(PyObject *obj)
{
    if (render_target_type == NULL) {
        PyObject *mod = PyImport_ImportModule("lumo_ui.fast.lmrendertex.lm_render_tex");
        PyObject *type = mod ? PyObject_GetAttrString(mod, "LmRenderTexture") : NULL;
        Py_XDECREF(mod);
        if (type == NULL) {
            return -1;
        }
        if (!PyType_Check(type)) {
            Py_DECREF(type);
            PyErr_SetString(PyExc_TypeError, "LmRenderTexture is not a type");
            return -1;
        }
        render_target_type = (PyTypeObject *)type;
    }
    if (!PyObject_TypeCheck(obj, render_target_type)) {
        PyErr_Format(PyExc_TypeError, "expected an LmRenderTexture, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return -1;
    }
    return 0;
}

static void
c_draw_lmtexture_lmvec(PyObject *source, PyObject *position, PyObject *color, int flip)
{
    RlRenderTexture handle;
    RlColor tint;
    if (check_render_target(source) < 0) {
        return;
    }
    PyObject *held = ((LmRenderTextureHead *)source)->render_texture;
    if (held == NULL) {
        PyErr_SetString(PyExc_ValueError, "the LmRenderTexture holds no render texture");
        return;
    }
    if (read_render_texture(held, &handle) < 0 || read_rect_tint(color, &tint) < 0) {
        return;
    }
    if (!PyObject_TypeCheck(position, &LmVector2Type)) {
        PyErr_Format(PyExc_TypeError, "the position must be an LmVector2, got %.200s",
                     Py_TYPE(position)->tp_name);
        return;
    }
    if (platform_guard() < 0 || check_handle(held, &handle, SOURCE) < 0 ||
        check_not_drawn_into(&handle.texture) < 0) {
        return;
    }
    const LmVector2Object *p = (const LmVector2Object *)position;
    draw_at(&handle.texture, (float)p->x, (float)p->y, flip, tint);
}

/* skip_dispatch is the callers' flag for reaching Python overrides; this
 * module has none, so it is accepted and ignored. */
static void
begin_texture_mode(PyObject *handle, int skip_dispatch)
{
    (void)skip_dispatch;
    RlRenderTexture target;
    if (platform_guard() < 0 || read_render_texture(handle, &target) < 0 ||
        check_handle(handle, &target, TARGET) < 0) {
        return;
    }
    rl.BeginTextureMode(target);
    drawing_into_begun(&target);
}

static void
clear_background(PyObject *color, int skip_dispatch)
{
    (void)skip_dispatch;
    c_clear_background(color);
}

static void
end_texture_mode(int skip_dispatch)
{
    (void)skip_dispatch;
    if (platform_guard() == 0) {
        rl.EndTextureMode();
        drawing_into_ended();
        if (deferred_unloads != 0) {
            platform_guard_slow();  /* out of texture mode: they can run now */
        }
    }
}

static void
begin_blend_mode(int mode, int skip_dispatch)
{
    (void)skip_dispatch;
    if (check_blend_mode(mode) == 0 && platform_guard() == 0) {
        rl.BeginBlendMode(mode);
    }
}

static void
end_blend_mode(int skip_dispatch)
{
    (void)skip_dispatch;
    if (platform_guard() == 0) {
        rl.EndBlendMode();
    }
}

/* fast_blit_pro(texture, dest, flip, color): the display's plain-texture
 * blit, at (x, y) for a pair or scaled into (x, y, w, h) for four numbers. */
PyObject *
display_fast_blit_pro(PyObject *self, PyObject *const *args, Py_ssize_t nargs)
{
    (void)self;
    if (nargs != 4) {
        PyErr_Format(PyExc_TypeError,
                     "fast_blit_pro() takes 4 arguments (texture, dest, flip, color), %zd given",
                     nargs);
        return NULL;
    }
    RlTexture tex;
    RlColor tint;
    int flip;
    if (read_texture(args[0], &tex) < 0 || (flip = PyObject_IsTrue(args[2])) < 0 ||
        read_color(args[3], &tint, RL_WHITE) < 0) {
        return NULL;
    }
    Py_ssize_t n = (PyTuple_Check(args[1]) || PyList_Check(args[1])) ? PySequence_Size(args[1]) : 0;
    float d[4];
    if (read_floats(args[1], d, n == 4 ? 4 : 2, "dest") < 0 || platform_guard() < 0 ||
        check_source(args[0], &tex, TEXTURE) < 0) {
        return NULL;
    }
    if (n == 4) {
        draw_into(&tex, (RlRectangle){d[0], d[1], d[2], d[3]}, flip, tint);
    }
    else {
        draw_at(&tex, d[0], d[1], flip, tint);
    }
    Py_RETURN_NONE;
}

/* begin_texture_mode(handle), for the platform's rl: the back-end's own. */
PyObject *
py_begin_texture_mode(PyObject *self, PyObject *handle)
{
    (void)self;
    begin_texture_mode(handle, 0);
    if (PyErr_Occurred()) {
        return NULL;
    }
    Py_RETURN_NONE;
}

/* end_texture_mode(), for the platform's rl: the back-end's own, which
 * also forgets the target that its draws may not read. */
PyObject *
py_end_texture_mode(PyObject *self, PyObject *unused)
{
    (void)self, (void)unused;
    end_texture_mode(0);
    if (PyErr_Occurred()) {
        return NULL;
    }
    Py_RETURN_NONE;
}

/* ---- start-up ---- */

static int
take_address(PyObject *ffi, PyObject *lib, const char *name, void **slot)
{
    PyObject *fn = PyObject_CallMethod(ffi, "addressof", "Os", lib, name);
    PyObject *cast = fn ? PyObject_CallMethod(ffi, "cast", "sO", "uintptr_t", fn) : NULL;
    PyObject *addr = cast ? PyNumber_Long(cast) : NULL;
    Py_XDECREF(fn);
    Py_XDECREF(cast);
    if (addr == NULL) {
        return -1;
    }
    *slot = PyLong_AsVoidPtr(addr);
    Py_DECREF(addr);
    if (*slot == NULL) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_ImportError, "the raylib binding has no %s", name);
        }
        return -1;
    }
    return 0;
}

#define ENTRY(fn, sig) {#fn, (void *)(fn), sig}

static const struct {
    const char *name;
    void *fn;
    const char *signature;
} capi[] = {
    ENTRY(c_clear_background, "void (PyObject *)"),
    ENTRY(c_draw_texture_rec, "void (PyObject *, PyObject *, PyObject *, PyObject *)"),
    ENTRY(c_draw_texture_vec, "void (PyObject *, PyObject *, PyObject *, int)"),
    ENTRY(begin_texture_mode, "void (PyObject *, int __pyx_skip_dispatch)"),
    ENTRY(clear_background, "void (PyObject *, int __pyx_skip_dispatch)"),
    ENTRY(end_blend_mode, "void (int __pyx_skip_dispatch)"),
    ENTRY(end_texture_mode, "void (int __pyx_skip_dispatch)"),
    ENTRY(begin_blend_mode, "void (int, int __pyx_skip_dispatch)"),
    ENTRY(c_draw_lmtexture_lmvec,
          "void (struct __pyx_obj_7lumo_ui_4fast_11lmrendertex_13lm_render_tex_LmRenderTexture *, "
          "struct __pyx_obj_7lumo_ui_4fast_9lmvector2_9lmvector2_LmVector2 *, "
          "struct __pyx_obj_7lumo_ui_4fast_6lmrect_6lmrect_LmRect *, int)"),
};

static int
publish_capi(PyObject *module)
{
    PyObject *table = PyDict_New();
    if (table == NULL) {
        return -1;
    }
    for (size_t i = 0; i < sizeof capi / sizeof capi[0]; i++) {
        PyObject *cap = PyCapsule_New(capi[i].fn, capi[i].signature, NULL);
        if (cap == NULL || PyDict_SetItemString(table, capi[i].name, cap) < 0) {
            Py_XDECREF(cap);
            Py_DECREF(table);
            return -1;
        }
        Py_DECREF(cap);
    }
    int rc = PyModule_AddObjectRef(module, "__pyx_capi__", table);
    Py_DECREF(table);
    return rc;
}

#define RAYLIB_FUNCTION(fn) {#fn, (void **)&rl.fn}

static const struct {
    const char *name;
    void **slot;
} raylib_functions[] = {
    RAYLIB_FUNCTION(IsWindowReady),
    RAYLIB_FUNCTION(BeginTextureMode),
    RAYLIB_FUNCTION(EndTextureMode),
    RAYLIB_FUNCTION(BeginBlendMode),
    RAYLIB_FUNCTION(EndBlendMode),
    RAYLIB_FUNCTION(ClearBackground),
    RAYLIB_FUNCTION(DrawTexturePro),
    RAYLIB_FUNCTION(UnloadRenderTexture),
    RAYLIB_FUNCTION(rlGetActiveFramebuffer),
    RAYLIB_FUNCTION(rlEnableFramebuffer),
    RAYLIB_FUNCTION(rlDrawRenderBatchActive),
    RAYLIB_FUNCTION(rlCheckRenderBatchLimit),
    RAYLIB_FUNCTION(rlGetProcAddress),
    RAYLIB_FUNCTION(glfwGetCurrentContext),
};

int
backend_init(PyObject *module, PyObject *ffi, PyObject *lib)
{
    for (size_t i = 0; i < sizeof raylib_functions / sizeof raylib_functions[0]; i++) {
        if (take_address(ffi, lib, raylib_functions[i].name, raylib_functions[i].slot) < 0) {
            return -1;
        }
    }
    return publish_capi(module);
}
