/*
 * The value types LmVector2 and LmRect and the handle type LmShader, with
 * the record layouts of lumo_standin_types.h.  Each publishes its method
 * table in its type dict as "__pyx_vtable__", an unnamed capsule.  Their
 * constructors reached through the tables are recorded in the call log.
 *
 * The types are built from PyType_Spec at import time so that the broken
 * variants selected by LUMO_STANDIN_BREAK can change their record size and
 * their method table publication.
 */
#include "platform.h"

#include <stddef.h>

#if defined(__x86_64__) || defined(__aarch64__)
_Static_assert(sizeof(LmVector2Object) == 40, "LmVector2 record size");
_Static_assert(sizeof(LmRectObject) == 40, "LmRect record size");
_Static_assert(sizeof(LmShaderObject) == 40, "LmShader record size");
#endif

static PyTypeObject *vector2_type = NULL;
static PyTypeObject *rect_type = NULL;
static PyTypeObject *shader_type = NULL;

/* The record size actually in use (differs from the header only in the
 * size-smaller / size-larger variants).  Fields beyond it do not exist. */
static Py_ssize_t vector2_size = sizeof(LmVector2Object);
static Py_ssize_t rect_size = sizeof(LmRectObject);
static Py_ssize_t shader_size = sizeof(LmShaderObject);

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

void
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
/* Building the types                                                  */
/* ------------------------------------------------------------------ */

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


int
values_ready(PyObject *module)
{
    vector2_type = make_platform_type(module, &vector2_spec, "LmVector2",
                                      sizeof(LmVector2Object), &vector2_size, &vector2_vtable);
    if (vector2_type == NULL) {
        return -1;
    }
    rect_type = make_platform_type(module, &rect_spec, "LmRect",
                                   sizeof(LmRectObject), &rect_size, &rect_vtable);
    if (rect_type == NULL) {
        return -1;
    }
    shader_type = make_platform_type(module, &shader_spec, "LmShader",
                                     sizeof(LmShaderObject), &shader_size, &shader_vtable);
    return shader_type == NULL ? -1 : 0;
}

void
values_clear(void)
{
    Py_CLEAR(vector2_type);
    Py_CLEAR(rect_type);
    Py_CLEAR(shader_type);
}
