/*
 * Python arguments -> raylib values.  Handles and textures are the
 * binding's cffi structs; their bytes are read in place (no attribute
 * lookups on the per-frame path), after checking that the object really is
 * a cdata of exactly that struct type, so nothing else can be read as one.
 */
#include "platform.h"

#include <string.h>

/* The head of every cffi cdata object.  The layout is checked against the
 * running cffi at start-up (convert_init), never assumed blindly. */
typedef struct {
    PyObject_HEAD
    PyObject *c_type;
    char *c_data;
} CData;

static PyTypeObject *cdata_type;      /* ffi.CData: base of every cdata */
static PyObject *texture_ctype;       /* ffi.typeof("Texture") */
static PyObject *render_texture_ctype;

static PyObject *
call_method(PyObject *obj, const char *name, const char *arg)
{
    return PyObject_CallMethod(obj, name, "s", arg);
}

static int
check_size(PyObject *ffi, const char *ctype, size_t ours)
{
    PyObject *n = call_method(ffi, "sizeof", ctype);
    if (n == NULL) {
        return -1;
    }
    size_t theirs = PyLong_AsSize_t(n);
    Py_DECREF(n);
    if (theirs != ours) {
        PyErr_Format(PyExc_ImportError,
                     "the raylib binding's %s is %zu bytes, this platform expects %zu",
                     ctype, theirs, ours);
        return -1;
    }
    return 0;
}

/* A struct made by ffi.new must read back at the address cffi reports and
 * with the ctype cffi reports; else this cffi lays out its cdata otherwise. */
static int
check_cdata_layout(PyObject *ffi)
{
    int ok = 0;
    PyObject *ptr = call_method(ffi, "new", "Texture *");
    PyObject *zero = PyLong_FromLong(0);
    PyObject *item = ptr && zero ? PyObject_GetItem(ptr, zero) : NULL;
    Py_XDECREF(zero);
    PyObject *cast = ptr ? PyObject_CallMethod(ffi, "cast", "sO", "uintptr_t", ptr) : NULL;
    PyObject *addr = cast ? PyNumber_Long(cast) : NULL;
    if (item != NULL && addr != NULL) {
        void *where = PyLong_AsVoidPtr(addr);
        ok = PyObject_TypeCheck(item, cdata_type) &&
             ((CData *)item)->c_type == texture_ctype &&
             (void *)((CData *)item)->c_data == where;
        if (!ok && !PyErr_Occurred()) {
            PyErr_SetString(PyExc_ImportError,
                            "this cffi lays out its cdata objects in a way the raylib "
                            "platform does not know");
        }
    }
    Py_XDECREF(addr);
    Py_XDECREF(cast);
    Py_XDECREF(item);
    Py_XDECREF(ptr);
    return ok ? 0 : -1;
}

int
convert_init(PyObject *ffi)
{
    cdata_type = (PyTypeObject *)PyObject_GetAttrString(ffi, "CData");
    if (cdata_type == NULL) {
        return -1;
    }
    if (!PyType_Check(cdata_type)) {
        PyErr_SetString(PyExc_ImportError, "ffi.CData is not a type");
        return -1;
    }
    texture_ctype = call_method(ffi, "typeof", "Texture");
    render_texture_ctype = texture_ctype ? call_method(ffi, "typeof", "RenderTexture") : NULL;
    if (render_texture_ctype == NULL ||
        check_size(ffi, "Texture", sizeof(RlTexture)) < 0 ||
        check_size(ffi, "RenderTexture", sizeof(RlRenderTexture)) < 0 ||
        check_size(ffi, "Color", sizeof(RlColor)) < 0 ||
        check_size(ffi, "Rectangle", sizeof(RlRectangle)) < 0) {
        return -1;
    }
    return check_cdata_layout(ffi);
}

static bool
is_cdata(PyObject *obj, PyObject *ctype)
{
    return PyObject_TypeCheck(obj, cdata_type) && ((CData *)obj)->c_type == ctype;
}

/* Copies the struct a cdata of exactly `ctype` holds; anything else, even
 * an object with the same attributes, is refused. */
static int
read_struct(PyObject *obj, PyObject *ctype, const char *what, void *out, size_t size)
{
    if (!is_cdata(obj, ctype)) {
        PyErr_Format(PyExc_TypeError, "expected a raylib %s, got %.200s", what,
                     Py_TYPE(obj)->tp_name);
        return -1;
    }
    memcpy(out, ((CData *)obj)->c_data, size);
    return 0;
}

bool
is_texture(PyObject *obj)
{
    return is_cdata(obj, texture_ctype);
}

bool
is_render_texture(PyObject *obj)
{
    return is_cdata(obj, render_texture_ctype);
}

uintptr_t
cdata_address(PyObject *obj)
{
    return (uintptr_t)((CData *)obj)->c_data;
}

int
read_texture(PyObject *obj, RlTexture *out)
{
    return read_struct(obj, texture_ctype, "Texture", out, sizeof *out);
}

int
read_handle(PyObject *obj, RlRenderTexture *out)
{
    return read_struct(obj, render_texture_ctype, "RenderTexture", out, sizeof *out);
}

int
read_render_texture(PyObject *obj, RlRenderTexture *out)
{
    if (read_handle(obj, out) < 0) {
        return -1;
    }
    if (out->id == 0) {
        /* raylib would bind the window's framebuffer and draw there */
        PyErr_SetString(PyExc_ValueError, "the RenderTexture is not loaded (id 0)");
        return -1;
    }
    return 0;
}

/* One colour component: an int 0-255. */
static int
read_component(PyObject *item, unsigned char *out)
{
    if (!PyLong_Check(item)) {
        PyErr_Format(PyExc_TypeError, "colour components must be integers, got %.200s",
                     Py_TYPE(item)->tp_name);
        return -1;
    }
    int overflow;
    long v = PyLong_AsLongAndOverflow(item, &overflow);
    if (overflow || v < 0 || v > 255) {
        PyErr_Format(PyExc_ValueError, "colour components must be 0-255, got %R", item);
        return -1;
    }
    *out = (unsigned char)v;
    return 0;
}

/* A plain int 0-255, read straight from its digits; 0 for anything else,
 * which the checked path then reads or rejects. */
static inline int
small_component(PyObject *item, unsigned char *out)
{
    if (!PyLong_CheckExact(item) || !PyUnstable_Long_IsCompact((PyLongObject *)item)) {
        return 0;
    }
    Py_ssize_t v = PyUnstable_Long_CompactValue((PyLongObject *)item);
    if ((size_t)v > 255) {
        return 0;
    }
    *out = (unsigned char)v;
    return 1;
}

/* The colour of nearly every draw, a tuple of four plain ints in range,
 * read without a call per component. */
static inline int
plain_color(PyObject *obj, RlColor *out)
{
    if (!PyTuple_CheckExact(obj) || PyTuple_GET_SIZE(obj) != 4) {
        return 0;
    }
    RlColor c;
    if (!small_component(PyTuple_GET_ITEM(obj, 0), &c.r) ||
        !small_component(PyTuple_GET_ITEM(obj, 1), &c.g) ||
        !small_component(PyTuple_GET_ITEM(obj, 2), &c.b) ||
        !small_component(PyTuple_GET_ITEM(obj, 3), &c.a)) {
        return 0;
    }
    *out = c;
    return 1;
}

int
read_color(PyObject *obj, RlColor *out, RlColor if_none)
{
    if (plain_color(obj, out)) {
        return 0;
    }
    if (obj == Py_None) {
        *out = if_none;
        return 0;
    }
    if (!PyTuple_Check(obj) && !PyList_Check(obj)) {
        PyErr_Format(PyExc_TypeError,
                     "a colour is an (r, g, b, a) tuple of integers 0-255 or None, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return -1;
    }
    /* Reading a component runs no Python code, so a list cannot change
     * under the loop. */
    PyObject *seq = PySequence_Fast(obj, "");
    if (seq == NULL) {
        return -1;
    }
    int rc = -1;
    if (PySequence_Fast_GET_SIZE(seq) != 4) {
        PyErr_Format(PyExc_ValueError, "a colour has 4 components (r, g, b, a), got %zd",
                     PySequence_Fast_GET_SIZE(seq));
    }
    else {
        PyObject **items = PySequence_Fast_ITEMS(seq);
        rc = (read_component(items[0], &out->r) < 0 || read_component(items[1], &out->g) < 0 ||
              read_component(items[2], &out->b) < 0 || read_component(items[3], &out->a) < 0)
                 ? -1 : 0;
    }
    Py_DECREF(seq);
    return rc;
}

static int
tint_component(float v, const char *field, unsigned char *out)
{
    if (!(v >= 0.0f && v <= 255.0f)) {  /* NaN fails too */
        PyObject *shown = PyFloat_FromDouble(v);
        if (shown != NULL) {
            PyErr_Format(PyExc_ValueError, "LmRect tint: %s must be 0-255, got %R", field, shown);
            Py_DECREF(shown);
        }
        return -1;
    }
    *out = (unsigned char)(v + 0.5f);
    return 0;
}

/* An LmRect tint is (x, y, w, h) = (red, green, blue, transparency): alpha
 * is 255 - h, so the render target's default (255, 255, 255, 0) is plain
 * opaque white and draws the source unchanged.  None means the same. */
int
read_rect_tint(PyObject *obj, RlColor *out)
{
    if (obj == Py_None) {
        *out = RL_WHITE;
        return 0;
    }
    if (!PyObject_TypeCheck(obj, &LmRectType)) {
        PyErr_Format(PyExc_TypeError, "an LmRect tint must be an LmRect or None, got %.200s",
                     Py_TYPE(obj)->tp_name);
        return -1;
    }
    const LmRectObject *r = (const LmRectObject *)obj;
    unsigned char transparency;
    if (tint_component(r->x, "x (red)", &out->r) < 0 ||
        tint_component(r->y, "y (green)", &out->g) < 0 ||
        tint_component(r->w, "w (blue)", &out->b) < 0 ||
        tint_component(r->h, "h (transparency)", &transparency) < 0) {
        return -1;
    }
    out->a = (unsigned char)(255 - transparency);
    return 0;
}

/* A number: exact floats and plain ints (what callers pass) are read
 * directly, without float() making an object; anything else goes through
 * float() with its usual errors. */
static inline int
read_float(PyObject *item, float *out)
{
    if (PyFloat_CheckExact(item)) {
        *out = (float)PyFloat_AS_DOUBLE(item);
        return 0;
    }
    if (PyLong_CheckExact(item) && PyUnstable_Long_IsCompact((PyLongObject *)item)) {
        *out = (float)PyUnstable_Long_CompactValue((PyLongObject *)item);
        return 0;
    }
    double v = PyFloat_AsDouble(item);
    if (v == -1.0 && PyErr_Occurred()) {
        return -1;
    }
    *out = (float)v;
    return 0;
}

int
read_floats(PyObject *obj, float *out, Py_ssize_t n, const char *what)
{
    if (PyList_Check(obj)) {
        /* A snapshot: float() of an item may run code that changes the list,
         * which must not move the items under the loop. */
        PyObject *items = PyList_AsTuple(obj);
        if (items == NULL) {
            return -1;
        }
        int rc = read_floats(items, out, n, what);
        Py_DECREF(items);
        return rc;
    }
    if (!PyTuple_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s must be a tuple of %zd numbers, got %.200s", what, n,
                     Py_TYPE(obj)->tp_name);
        return -1;
    }
    if (PyTuple_GET_SIZE(obj) != n) {
        PyErr_Format(PyExc_ValueError, "%s must have %zd numbers, got %zd", what, n,
                     PyTuple_GET_SIZE(obj));
        return -1;
    }
    for (Py_ssize_t i = 0; i < n; i++) {
        if (read_float(PyTuple_GET_ITEM(obj, i), &out[i]) < 0) {
            return -1;
        }
    }
    return 0;
}
