/*
 * lumo_standin._native: the native half of the stand-in platform.
 *
 *  - the value types LmVector2 and LmRect and the LmShader handle type, each
 *    with its native method table published as "__pyx_vtable__";
 *  - the drawing back-end functions exported through a C-API dict of
 *    signature-named capsules (see _build_capi);
 *  - Floor, a do-nothing callable used as the floor of benchmarks.
 *
 * Every call into the back-end and every constructor called through a
 * method table is recorded by calling the Python recorder installed with
 * _connect() (lumo_standin.calllog).  In quiet mode (a plain C flag) nothing
 * is recorded and the back-end functions return at once.
 *
 * The types are built from PyType_Spec at import time so that the broken
 * variants selected by LUMO_STANDIN_BREAK can change their record size and
 * their method table publication.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stddef.h>

#include "lumo_standin_types.h"

#if defined(__x86_64__) || defined(__aarch64__)
_Static_assert(sizeof(LmVector2Object) == 40, "LmVector2 record size");
_Static_assert(sizeof(LmRectObject) == 40, "LmRect record size");
_Static_assert(sizeof(LmShaderObject) == 40, "LmShader record size");
#endif

/* ------------------------------------------------------------------ */
/* Shared state                                                        */
/* ------------------------------------------------------------------ */

static int quiet_mode = 0;
static PyObject *recorder = NULL;      /* callable(name, *args) */
static PyObject *skip_reporter = NULL; /* callable(name, value) */
static PyObject *breaks_module = NULL; /* lumo_standin._breaks */

static PyTypeObject *vector2_type = NULL;
static PyTypeObject *rect_type = NULL;
static PyTypeObject *shader_type = NULL;
static PyTypeObject *floor_type = NULL;

/* The record size actually in use (differs from the header only in the
 * size-smaller / size-larger variants).  Fields beyond it do not exist. */
static Py_ssize_t vector2_size = sizeof(LmVector2Object);
static Py_ssize_t rect_size = sizeof(LmRectObject);
static Py_ssize_t shader_size = sizeof(LmShaderObject);

enum {
    N_C_CLEAR_BACKGROUND,
    N_C_DRAW_TEXTURE_REC,
    N_C_DRAW_TEXTURE_VEC,
    N_BEGIN_TEXTURE_MODE,
    N_CLEAR_BACKGROUND,
    N_END_BLEND_MODE,
    N_END_TEXTURE_MODE,
    N_BEGIN_BLEND_MODE,
    N_C_DRAW_LMTEXTURE_LMVEC,
    N_VECTOR2_NEW,
    N_RECT_NEW,
    N_SHADER_CREATE,
    N_COUNT
};

/* The back-end functions come first, in the order of their C-API dict; their
 * names are the ones lumo_standin._breaks lists, read at import.  The
 * constructors reached through method tables are named here. */
#define N_CAPI_COUNT N_VECTOR2_NEW

static const char *const constructor_text[N_COUNT - N_CAPI_COUNT] = {
    "LmVector2.new",
    "LmRect.new",
    "LmShader.c_create_from_code",
};

/* Every name the call log can receive from here, interned; published as
 * CALL_NAMES. */
static PyObject *names[N_COUNT];

/* Is the broken variant (kind, arg) selected?  1 yes, 0 no, -1 error. */
static int
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

/* A back-end function must not be entered with an exception pending: that
 * means the caller ignored an earlier failure.  Turn it into a SystemError
 * that keeps the pending one as its context. */
static int
check_clean(int which)
{
    if (!PyErr_Occurred()) {
        return 0;
    }
    PyObject *pending = PyErr_GetRaisedException();
    PyErr_Format(PyExc_SystemError, "%U called with an exception set", names[which]);
    PyObject *exc = PyErr_GetRaisedException();
    PyException_SetContext(exc, pending);
    PyErr_SetRaisedException(exc);
    return -1;
}

/* Record (name, *args) in the call log; the recorder may raise an armed
 * failure.  Returns 0, or -1 with an exception set. */
static int
record(int which, Py_ssize_t nargs, PyObject *const *args)
{
    PyObject *stack[8];

    if (recorder == NULL) {
        PyErr_SetString(PyExc_SystemError, "stand-in call log is not connected");
        return -1;
    }
    stack[0] = names[which];
    for (Py_ssize_t i = 0; i < nargs; i++) {
        if (args[i] == NULL) {
            PyErr_Format(PyExc_SystemError, "%U: argument %zd is NULL", names[which], i + 1);
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

/* Record (name, *objects, flag) where flag is a C int. */
static int
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
static int
check_skip_dispatch(int which, int skip_dispatch)
{
    if (skip_dispatch == 0) {
        return 0;
    }
    if (check_clean(which) < 0) {
        return -1;
    }
    if (skip_reporter != NULL) {
        PyObject *res = PyObject_CallFunction(skip_reporter, "Oi", names[which],
                                              skip_dispatch);
        if (res == NULL) {
            return -1;
        }
        Py_DECREF(res);
    }
    PyErr_Format(PyExc_AssertionError, "%U: skip_dispatch must be 0, got %d", names[which],
                 skip_dispatch);
    return -1;
}

/* ------------------------------------------------------------------ */
/* Fields of the value types                                           */
/* ------------------------------------------------------------------ */

typedef struct {
    const char *name;
    Py_ssize_t offset;
    char kind;                 /* 'd' double, 'f' float, 'I' unsigned int */
    const Py_ssize_t *limit;   /* record size of the owning type */
} Field;

static Py_ssize_t
field_width(const Field *f)
{
    switch (f->kind) {
    case 'd': return (Py_ssize_t)sizeof(double);
    case 'f': return (Py_ssize_t)sizeof(float);
    default:  return (Py_ssize_t)sizeof(unsigned int);
    }
}

static int
field_present(const Field *f)
{
    return f->offset + field_width(f) <= *f->limit;
}

/* Value of a float field; absent fields (size-smaller variant) read 0. */
static double
field_read(PyObject *self, const Field *f)
{
    char *p = (char *)self + f->offset;
    if (!field_present(f)) {
        return 0.0;
    }
    if (f->kind == 'd') {
        return *(double *)p;
    }
    return (double)*(float *)p;
}

static void
field_write(PyObject *self, const Field *f, double v)
{
    char *p = (char *)self + f->offset;
    if (!field_present(f)) {
        return;
    }
    if (f->kind == 'd') {
        *(double *)p = v;
    }
    else {
        *(float *)p = (float)v;
    }
}

static PyObject *
field_get(PyObject *self, void *closure)
{
    const Field *f = closure;
    if (!field_present(f)) {
        PyErr_Format(PyExc_AttributeError,
                     "'%s' record has no field '%s' in this variant",
                     Py_TYPE(self)->tp_name, f->name);
        return NULL;
    }
    if (f->kind == 'I') {
        return PyLong_FromUnsignedLong(*(unsigned int *)((char *)self + f->offset));
    }
    return PyFloat_FromDouble(field_read(self, f));
}

static int
field_set(PyObject *self, PyObject *value, void *closure)
{
    const Field *f = closure;
    if (value == NULL) {
        PyErr_Format(PyExc_TypeError, "cannot delete attribute '%s'", f->name);
        return -1;
    }
    double v = PyFloat_AsDouble(value);
    if (v == -1.0 && PyErr_Occurred()) {
        return -1;
    }
    if (!field_present(f)) {
        PyErr_Format(PyExc_AttributeError,
                     "'%s' record has no field '%s' in this variant",
                     Py_TYPE(self)->tp_name, f->name);
        return -1;
    }
    field_write(self, f, v);
    return 0;
}

/* repr "Name(a, b, ...)" over float fields, using the float repr. */
static PyObject *
fields_repr(PyObject *self, const Field *fields, int n)
{
    PyObject *name = PyType_GetName(Py_TYPE(self));
    if (name == NULL) {
        return NULL;
    }
    PyObject *parts = PyList_New(n);
    if (parts == NULL) {
        Py_DECREF(name);
        return NULL;
    }
    for (int i = 0; i < n; i++) {
        PyObject *num = PyFloat_FromDouble(field_read(self, &fields[i]));
        if (num == NULL) {
            goto fail;
        }
        PyObject *text = PyObject_Repr(num);
        Py_DECREF(num);
        if (text == NULL) {
            goto fail;
        }
        PyList_SET_ITEM(parts, i, text);
    }
    PyObject *sep = PyUnicode_FromString(", ");
    if (sep == NULL) {
        goto fail;
    }
    PyObject *inner = PyUnicode_Join(sep, parts);
    Py_DECREF(sep);
    if (inner == NULL) {
        goto fail;
    }
    PyObject *res = PyUnicode_FromFormat("%U(%U)", name, inner);
    Py_DECREF(inner);
    Py_DECREF(parts);
    Py_DECREF(name);
    return res;
fail:
    Py_DECREF(parts);
    Py_DECREF(name);
    return NULL;
}

static PyObject *
fields_richcompare(PyObject *a, PyObject *b, int op, PyTypeObject *type,
                   const Field *fields, int n)
{
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(a, type)
        || !PyObject_TypeCheck(b, type)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    int equal = 1;
    for (int i = 0; i < n && equal; i++) {
        equal = field_read(a, &fields[i]) == field_read(b, &fields[i]);
    }
    return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

/* (type(self), (fields...)) plus the instance dict of a subclass, if any. */
static PyObject *
fields_reduce(PyObject *self, const Field *fields, int n)
{
    PyObject *args = PyTuple_New(n);
    if (args == NULL) {
        return NULL;
    }
    for (int i = 0; i < n; i++) {
        PyObject *num = PyFloat_FromDouble(field_read(self, &fields[i]));
        if (num == NULL) {
            Py_DECREF(args);
            return NULL;
        }
        PyTuple_SET_ITEM(args, i, num);
    }
    PyObject *state = PyObject_GetAttrString(self, "__dict__");
    if (state == NULL) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            Py_DECREF(args);
            return NULL;
        }
        PyErr_Clear();
    }
    else if (PyDict_Check(state) && PyDict_GET_SIZE(state) == 0) {
        Py_CLEAR(state);
    }
    PyObject *res;
    if (state == NULL) {
        res = PyTuple_Pack(2, (PyObject *)Py_TYPE(self), args);
    }
    else {
        res = PyTuple_Pack(3, (PyObject *)Py_TYPE(self), args, state);
        Py_DECREF(state);
    }
    Py_DECREF(args);
    return res;
}

static void
plain_dealloc(PyObject *self)
{
    PyTypeObject *tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

/* ------------------------------------------------------------------ */
/* LmVector2                                                           */
/* ------------------------------------------------------------------ */

static Field vector2_fields[] = {
    {"x", offsetof(LmVector2Object, data.x), 'd', &vector2_size},
    {"y", offsetof(LmVector2Object, data.y), 'd', &vector2_size},
};

static PyObject *vector2_vt_new(double x, double y);
static struct LmVector2VTable vector2_vtable = {vector2_vt_new};

static PyObject *
vector2_tp_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    (void)args;
    (void)kwds;
    PyObject *self = type->tp_alloc(type, 0);
    if (self != NULL) {
        ((LmVector2Object *)self)->vtab = &vector2_vtable;
    }
    return self;
}

static int
vector2_init(PyObject *self, PyObject *args, PyObject *kwds)
{
    static char *kwlist[] = {"x", "y", NULL};
    double x = 0.0, y = 0.0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|dd:LmVector2", kwlist, &x, &y)) {
        return -1;
    }
    field_write(self, &vector2_fields[0], x);
    field_write(self, &vector2_fields[1], y);
    return 0;
}

static PyObject *
vector2_repr(PyObject *self)
{
    return fields_repr(self, vector2_fields, 2);
}

static PyObject *
vector2_richcompare(PyObject *a, PyObject *b, int op)
{
    return fields_richcompare(a, b, op, vector2_type, vector2_fields, 2);
}

static PyObject *
vector2_reduce(PyObject *self, PyObject *Py_UNUSED(ignored))
{
    return fields_reduce(self, vector2_fields, 2);
}

static PyObject *
vector2_vt_new(double x, double y)
{
    if (!quiet_mode) {
        if (check_clean(N_VECTOR2_NEW) < 0) {
            return NULL;
        }
        PyObject *a[2];
        a[0] = PyFloat_FromDouble(x);
        a[1] = PyFloat_FromDouble(y);
        int rc = (a[0] && a[1]) ? record(N_VECTOR2_NEW, 2, a) : -1;
        Py_XDECREF(a[0]);
        Py_XDECREF(a[1]);
        if (rc < 0) {
            return NULL;
        }
    }
    PyObject *self = vector2_tp_new(vector2_type, NULL, NULL);
    if (self != NULL) {
        field_write(self, &vector2_fields[0], x);
        field_write(self, &vector2_fields[1], y);
    }
    return self;
}

static PyGetSetDef vector2_getset[] = {
    {"x", field_get, field_set, "x component", &vector2_fields[0]},
    {"y", field_get, field_set, "y component", &vector2_fields[1]},
    {NULL, NULL, NULL, NULL, NULL},
};

static PyMethodDef vector2_methods[] = {
    {"__reduce__", vector2_reduce, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot vector2_slots[] = {
    {Py_tp_doc, "LmVector2(x=0.0, y=0.0): a 2D vector of doubles."},
    {Py_tp_new, vector2_tp_new},
    {Py_tp_init, vector2_init},
    {Py_tp_dealloc, plain_dealloc},
    {Py_tp_repr, vector2_repr},
    {Py_tp_richcompare, vector2_richcompare},
    {Py_tp_getset, vector2_getset},
    {Py_tp_methods, vector2_methods},
    {0, NULL},
};

static PyType_Spec vector2_spec = {
    "lumo_ui.fast.lmvector2.lmvector2.LmVector2",
    0, /* set at import */
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    vector2_slots,
};

/* ------------------------------------------------------------------ */
/* LmRect                                                              */
/* ------------------------------------------------------------------ */

static Field rect_fields[] = {
    {"x", offsetof(LmRectObject, x), 'f', &rect_size},
    {"y", offsetof(LmRectObject, y), 'f', &rect_size},
    {"w", offsetof(LmRectObject, w), 'f', &rect_size},
    {"h", offsetof(LmRectObject, h), 'f', &rect_size},
};

static PyObject *rect_vt_new(float x, float y, float w, float h);
static struct LmRectVTable rect_vtable = {rect_vt_new};

static PyObject *
rect_tp_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    (void)args;
    (void)kwds;
    PyObject *self = type->tp_alloc(type, 0);
    if (self != NULL) {
        ((LmRectObject *)self)->vtab = &rect_vtable;
    }
    return self;
}

static int
rect_init(PyObject *self, PyObject *args, PyObject *kwds)
{
    static char *kwlist[] = {"x", "y", "w", "h", NULL};
    double v[4] = {0.0, 0.0, 0.0, 0.0};
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|dddd:LmRect", kwlist,
                                     &v[0], &v[1], &v[2], &v[3])) {
        return -1;
    }
    for (int i = 0; i < 4; i++) {
        field_write(self, &rect_fields[i], v[i]);
    }
    return 0;
}

static PyObject *
rect_repr(PyObject *self)
{
    return fields_repr(self, rect_fields, 4);
}

static PyObject *
rect_richcompare(PyObject *a, PyObject *b, int op)
{
    return fields_richcompare(a, b, op, rect_type, rect_fields, 4);
}

static PyObject *
rect_reduce(PyObject *self, PyObject *Py_UNUSED(ignored))
{
    return fields_reduce(self, rect_fields, 4);
}

static PyObject *
rect_vt_new(float x, float y, float w, float h)
{
    double v[4] = {x, y, w, h};
    if (!quiet_mode) {
        if (check_clean(N_RECT_NEW) < 0) {
            return NULL;
        }
        PyObject *a[4] = {NULL, NULL, NULL, NULL};
        int rc = 0;
        for (int i = 0; i < 4; i++) {
            a[i] = PyFloat_FromDouble(v[i]);
            if (a[i] == NULL) {
                rc = -1;
            }
        }
        if (rc == 0) {
            rc = record(N_RECT_NEW, 4, a);
        }
        for (int i = 0; i < 4; i++) {
            Py_XDECREF(a[i]);
        }
        if (rc < 0) {
            return NULL;
        }
    }
    PyObject *self = rect_tp_new(rect_type, NULL, NULL);
    if (self != NULL) {
        for (int i = 0; i < 4; i++) {
            field_write(self, &rect_fields[i], v[i]);
        }
    }
    return self;
}

static PyGetSetDef rect_getset[] = {
    {"x", field_get, field_set, "left edge", &rect_fields[0]},
    {"y", field_get, field_set, "top edge", &rect_fields[1]},
    {"w", field_get, field_set, "width", &rect_fields[2]},
    {"h", field_get, field_set, "height", &rect_fields[3]},
    {NULL, NULL, NULL, NULL, NULL},
};

static PyMethodDef rect_methods[] = {
    {"__reduce__", rect_reduce, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot rect_slots[] = {
    {Py_tp_doc, "LmRect(x=0, y=0, w=0, h=0): a rectangle of single floats."},
    {Py_tp_new, rect_tp_new},
    {Py_tp_init, rect_init},
    {Py_tp_dealloc, plain_dealloc},
    {Py_tp_repr, rect_repr},
    {Py_tp_richcompare, rect_richcompare},
    {Py_tp_getset, rect_getset},
    {Py_tp_methods, rect_methods},
    {0, NULL},
};

static PyType_Spec rect_spec = {
    "lumo_ui.fast.lmrect.lmrect.LmRect",
    0,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    rect_slots,
};

/* ------------------------------------------------------------------ */
/* LmShader                                                            */
/* ------------------------------------------------------------------ */

static Field shader_id_field = {"id", offsetof(LmShaderObject, id), 'I', &shader_size};

static PyObject *shader_vt_create_from_code(PyObject *vertex, PyObject *fragment);
static struct LmShaderVTable shader_vtable = {shader_vt_create_from_code};

static PyObject *
shader_tp_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    if ((args != NULL && PyTuple_GET_SIZE(args) != 0)
        || (kwds != NULL && PyDict_GET_SIZE(kwds) != 0)) {
        PyErr_SetString(PyExc_TypeError, "LmShader() takes no arguments");
        return NULL;
    }
    PyObject *self = type->tp_alloc(type, 0);
    if (self != NULL) {
        ((LmShaderObject *)self)->vtab = &shader_vtable;
    }
    return self;
}

static PyObject *
shader_repr(PyObject *self)
{
    unsigned int id = 0;
    if (field_present(&shader_id_field)) {
        id = ((LmShaderObject *)self)->id;
    }
    return PyUnicode_FromFormat("LmShader(id=%u)", id);
}

static PyObject *
shader_vt_create_from_code(PyObject *vertex, PyObject *fragment)
{
    if (!quiet_mode) {
        if (check_clean(N_SHADER_CREATE) < 0) {
            return NULL;
        }
        PyObject *a[2] = {vertex, fragment};
        if (record(N_SHADER_CREATE, 2, a) < 0) {
            return NULL;
        }
    }
    PyErr_SetString(PyExc_NotImplementedError,
                    "the stand-in platform cannot compile shaders");
    return NULL;
}

static PyGetSetDef shader_getset[] = {
    {"id", field_get, NULL, "shader program id (0: none)", &shader_id_field},
    {NULL, NULL, NULL, NULL, NULL},
};

static PyType_Slot shader_slots[] = {
    {Py_tp_doc, "LmShader(): a shader program handle (never compiled here)."},
    {Py_tp_new, shader_tp_new},
    {Py_tp_dealloc, plain_dealloc},
    {Py_tp_repr, shader_repr},
    {Py_tp_getset, shader_getset},
    {0, NULL},
};

static PyType_Spec shader_spec = {
    "lumo_ui.fast.lmshader.lmshader.LmShader",
    0,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    shader_slots,
};

/* ------------------------------------------------------------------ */
/* Floor: the cheapest C callable there is                             */
/* ------------------------------------------------------------------ */

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

/* ------------------------------------------------------------------ */
/* Drawing back-end                                                    */
/* ------------------------------------------------------------------ */

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

/* Indexed like names[]: entry i is exported under names[i]. */
static const CapiEntry capi_entries[N_CAPI_COUNT] = {
    {LM_SIG_C_CLEAR_BACKGROUND, (void *)be_c_clear_background},
    {LM_SIG_C_DRAW_TEXTURE_REC, (void *)be_c_draw_texture_rec},
    {LM_SIG_C_DRAW_TEXTURE_VEC, (void *)be_c_draw_texture_vec},
    {LM_SIG_BEGIN_TEXTURE_MODE, (void *)be_begin_texture_mode},
    {LM_SIG_CLEAR_BACKGROUND, (void *)be_clear_background},
    {LM_SIG_END_BLEND_MODE, (void *)be_end_blend_mode},
    {LM_SIG_END_TEXTURE_MODE, (void *)be_end_texture_mode},
    {LM_SIG_BEGIN_BLEND_MODE, (void *)be_begin_blend_mode},
    {LM_SIG_C_DRAW_LMTEXTURE_LMVEC, (void *)be_c_draw_lmtexture_lmvec},
};

static const char wrong_signature[] = "void (long)";

/* _build_capi() -> dict: the back-end's C API, with the broken variants
 * capi-missing:NAME and capi-signature:NAME applied. */
static PyObject *
build_capi(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    PyObject *capi = PyDict_New();
    if (capi == NULL) {
        return NULL;
    }
    for (int i = 0; i < N_CAPI_COUNT; i++) {
        const CapiEntry *e = &capi_entries[i];
        const char *name = PyUnicode_AsUTF8(names[i]);
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
        int rc = PyDict_SetItem(capi, names[i], cap);
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

static PyObject *
py_begin_texture_mode(PyObject *module, PyObject *render_texture)
{
    (void)module;
    be_begin_texture_mode(render_texture, 0);
    return finish_void_call();
}

static PyObject *
py_clear_background(PyObject *module, PyObject *color)
{
    (void)module;
    be_clear_background(color, 0);
    return finish_void_call();
}

static PyObject *
py_end_blend_mode(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    be_end_blend_mode(0);
    return finish_void_call();
}

static PyObject *
py_end_texture_mode(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    be_end_texture_mode(0);
    return finish_void_call();
}

static PyObject *
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

/* ------------------------------------------------------------------ */
/* Log plumbing                                                        */
/* ------------------------------------------------------------------ */

static PyObject *
py_connect(PyObject *module, PyObject *const *args, Py_ssize_t nargs)
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

static PyObject *
py_set_quiet(PyObject *module, PyObject *arg)
{
    (void)module;
    int on = PyObject_IsTrue(arg);
    if (on < 0) {
        return NULL;
    }
    quiet_mode = on;
    Py_RETURN_NONE;
}

static PyObject *
py_is_quiet(PyObject *module, PyObject *Py_UNUSED(ignored))
{
    (void)module;
    return PyBool_FromLong(quiet_mode);
}

static PyMethodDef module_methods[] = {
    {"_connect", (PyCFunction)(void (*)(void))py_connect, METH_FASTCALL,
     "_connect(record, report_skip_dispatch): install the call log."},
    {"_set_quiet", py_set_quiet, METH_O, "_set_quiet(flag): switch quiet mode."},
    {"_is_quiet", py_is_quiet, METH_NOARGS, "_is_quiet() -> bool"},
    {"_build_capi", build_capi, METH_NOARGS, "_build_capi() -> the back-end C-API dict."},
    {"begin_texture_mode", py_begin_texture_mode, METH_O, NULL},
    {"clear_background", py_clear_background, METH_O, NULL},
    {"end_blend_mode", py_end_blend_mode, METH_NOARGS, NULL},
    {"end_texture_mode", py_end_texture_mode, METH_NOARGS, NULL},
    {"begin_blend_mode", py_begin_blend_mode, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef native_module = {
    PyModuleDef_HEAD_INIT,
    "lumo_standin._native",
    "Native stand-ins of the platform types and of the drawing back-end.",
    -1,
    module_methods,
    NULL, NULL, NULL, NULL,
};

/* Build one platform type from its spec, honouring the size and method
 * table variants, and add it to the module under short_name. */
static PyTypeObject *
make_platform_type(PyObject *module, PyType_Spec *spec, const char *short_name,
                   Py_ssize_t record_size, Py_ssize_t *size_in_use, void *vtable)
{
    int smaller = broken("size-smaller", short_name);
    int larger = broken("size-larger", short_name);
    int no_vtable = broken("no-vtable", short_name);
    int not_capsule = broken("vtable-not-capsule", short_name);
    if (smaller < 0 || larger < 0 || no_vtable < 0 || not_capsule < 0) {
        return NULL;
    }
    *size_in_use = record_size + (smaller ? -8 : 0) + (larger ? 8 : 0);
    spec->basicsize = (int)*size_in_use;

    PyTypeObject *type = (PyTypeObject *)PyType_FromSpec(spec);
    if (type == NULL) {
        return NULL;
    }
    if (!no_vtable) {
        PyObject *vt = not_capsule ? PyLong_FromLong(0) : PyCapsule_New(vtable, NULL, NULL);
        if (vt == NULL) {
            goto fail;
        }
        int rc = PyObject_SetAttrString((PyObject *)type, "__pyx_vtable__", vt);
        Py_DECREF(vt);
        if (rc < 0) {
            goto fail;
        }
    }
    if (PyModule_AddObjectRef(module, short_name, (PyObject *)type) < 0) {
        goto fail;
    }
    return type;
fail:
    Py_DECREF(type);
    return NULL;
}

/* Fills names[]: the back-end's from _breaks.CAPI_NAMES, then the
 * constructors'; and publishes them all as CALL_NAMES. */
static int
intern_names(PyObject *module)
{
    PyObject *capi_names = PyObject_GetAttrString(breaks_module, "CAPI_NAMES");
    if (capi_names == NULL) {
        return -1;
    }
    if (!PyTuple_Check(capi_names) || PyTuple_GET_SIZE(capi_names) != N_CAPI_COUNT) {
        PyErr_Format(PyExc_SystemError, "_breaks.CAPI_NAMES must be a tuple of %d names",
                     N_CAPI_COUNT);
        Py_DECREF(capi_names);
        return -1;
    }
    for (int i = 0; i < N_COUNT; i++) {
        if (names[i] != NULL) {
            continue;
        }
        if (i < N_CAPI_COUNT) {
            names[i] = Py_NewRef(PyTuple_GET_ITEM(capi_names, i));
            PyUnicode_InternInPlace(&names[i]);
        } else {
            names[i] = PyUnicode_InternFromString(constructor_text[i - N_CAPI_COUNT]);
        }
        if (names[i] == NULL) {
            Py_DECREF(capi_names);
            return -1;
        }
    }
    Py_DECREF(capi_names);
    PyObject *all = PyTuple_New(N_COUNT);
    if (all == NULL) {
        return -1;
    }
    for (int i = 0; i < N_COUNT; i++) {
        PyTuple_SET_ITEM(all, i, Py_NewRef(names[i]));
    }
    int rc = PyModule_AddObjectRef(module, "CALL_NAMES", all);
    Py_DECREF(all);
    return rc;
}

PyMODINIT_FUNC
PyInit__native(void)
{
    PyObject *module = PyModule_Create(&native_module);
    if (module == NULL) {
        return NULL;
    }
    breaks_module = PyImport_ImportModule("lumo_standin._breaks");
    if (breaks_module == NULL) {
        goto fail;
    }
    if (intern_names(module) < 0) {
        goto fail;
    }
    vector2_type = make_platform_type(module, &vector2_spec, "LmVector2",
                                      sizeof(LmVector2Object), &vector2_size, &vector2_vtable);
    if (vector2_type == NULL) {
        goto fail;
    }
    rect_type = make_platform_type(module, &rect_spec, "LmRect",
                                   sizeof(LmRectObject), &rect_size, &rect_vtable);
    if (rect_type == NULL) {
        goto fail;
    }
    shader_type = make_platform_type(module, &shader_spec, "LmShader",
                                     sizeof(LmShaderObject), &shader_size, &shader_vtable);
    if (shader_type == NULL) {
        goto fail;
    }
    floor_type = (PyTypeObject *)PyType_FromSpec(&floor_spec);
    if (floor_type == NULL || PyModule_AddObjectRef(module, "Floor", (PyObject *)floor_type) < 0) {
        goto fail;
    }
    return module;
fail:
    Py_CLEAR(vector2_type);
    Py_CLEAR(rect_type);
    Py_CLEAR(shader_type);
    Py_CLEAR(floor_type);
    Py_CLEAR(breaks_module);
    Py_DECREF(module);
    return NULL;
}
