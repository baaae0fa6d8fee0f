/*
 * The value types LmVector2 and LmRect and the handle type LmShader, with
 * the record layouts of the platform contract: object header, pointer to
 * the native method table, then the fields.  Each publishes its table in
 * its type dict as "__pyx_vtable__", an unnamed capsule.
 */
#include "platform.h"

#include <stddef.h>

_Static_assert(sizeof(LmVector2Object) == 40, "LmVector2 record size");
_Static_assert(sizeof(LmRectObject) == 40, "LmRect record size");
_Static_assert(sizeof(LmShaderObject) == 40, "LmShader record size");

/* ---- LmVector2 ---- */

static PyObject *vector2_new_native(double x, double y);
static LmVector2VTable vector2_vtable = {vector2_new_native};

static PyObject *
vector2_tp_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    (void)args, (void)kwds;
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
    double x = 0.0, y = 0.0;  /* a failed call leaves the vector as it was */
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|dd:LmVector2", kwlist, &x, &y)) {
        return -1;
    }
    LmVector2Object *v = (LmVector2Object *)self;
    v->x = x, v->y = y;
    return 0;
}

static PyObject *
vector2_new_native(double x, double y)
{
    PyObject *self = vector2_tp_new(&LmVector2Type, NULL, NULL);
    if (self != NULL) {
        ((LmVector2Object *)self)->x = x;
        ((LmVector2Object *)self)->y = y;
    }
    return self;
}

static PyObject *
vector2_repr(PyObject *self)
{
    LmVector2Object *v = (LmVector2Object *)self;
    PyObject *x = PyFloat_FromDouble(v->x), *y = PyFloat_FromDouble(v->y);
    PyObject *r = (x && y) ? PyUnicode_FromFormat("LmVector2(%R, %R)", x, y) : NULL;
    Py_XDECREF(x);
    Py_XDECREF(y);
    return r;
}

static PyObject *
vector2_reduce(PyObject *self, PyObject *unused)
{
    (void)unused;
    LmVector2Object *v = (LmVector2Object *)self;
    return Py_BuildValue("O(dd)", Py_TYPE(self), v->x, v->y);
}

/* x and y are getset descriptors rather than members: readers that find a
 * getset's getter once may call it directly on every later read, which the
 * render target does for a source's width and height on each blit. */
static PyObject *
vector2_get(PyObject *self, void *offset)
{
    return PyFloat_FromDouble(*(double *)((char *)self + (size_t)offset));
}

static int
vector2_set(PyObject *self, PyObject *value, void *offset)
{
    if (value == NULL) {
        PyErr_SetString(PyExc_TypeError, "can't delete numeric/char attribute");
        return -1;
    }
    double v = PyFloat_AsDouble(value);
    if (v == -1.0 && PyErr_Occurred()) {
        return -1;
    }
    *(double *)((char *)self + (size_t)offset) = v;
    return 0;
}

static PyGetSetDef vector2_getset[] = {
    {"x", vector2_get, vector2_set, "x component", (void *)offsetof(LmVector2Object, x)},
    {"y", vector2_get, vector2_set, "y component", (void *)offsetof(LmVector2Object, y)},
    {NULL},
};

static PyMethodDef vector2_methods[] = {
    {"__reduce__", vector2_reduce, METH_NOARGS, NULL},
    {NULL},
};

PyTypeObject LmVector2Type = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "lumo_ui.fast.lmvector2.lmvector2.LmVector2",
    .tp_basicsize = sizeof(LmVector2Object),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = "LmVector2(x=0.0, y=0.0): a 2D vector of doubles.",
    .tp_new = vector2_tp_new,
    .tp_init = vector2_init,
    .tp_repr = vector2_repr,
    .tp_getset = vector2_getset,
    .tp_methods = vector2_methods,
};

/* ---- LmRect ---- */

static PyObject *rect_new_native(float x, float y, float w, float h);
static LmRectVTable rect_vtable = {rect_new_native};

static PyObject *
rect_tp_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    (void)args, (void)kwds;
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
    float x = 0.0f, y = 0.0f, w = 0.0f, h = 0.0f;  /* a failed call changes nothing */
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|ffff:LmRect", kwlist, &x, &y, &w, &h)) {
        return -1;
    }
    LmRectObject *r = (LmRectObject *)self;
    r->x = x, r->y = y, r->w = w, r->h = h;
    return 0;
}

static PyObject *
rect_new_native(float x, float y, float w, float h)
{
    PyObject *self = rect_tp_new(&LmRectType, NULL, NULL);
    if (self != NULL) {
        LmRectObject *r = (LmRectObject *)self;
        r->x = x, r->y = y, r->w = w, r->h = h;
    }
    return self;
}

static PyObject *
rect_repr(PyObject *self)
{
    LmRectObject *r = (LmRectObject *)self;
    PyObject *t = Py_BuildValue("(dddd)", r->x, r->y, r->w, r->h);
    PyObject *s = t ? PyUnicode_FromFormat("LmRect%R", t) : NULL;
    Py_XDECREF(t);
    return s;
}

static PyObject *
rect_reduce(PyObject *self, PyObject *unused)
{
    (void)unused;
    LmRectObject *r = (LmRectObject *)self;
    return Py_BuildValue("O(dddd)", Py_TYPE(self), r->x, r->y, r->w, r->h);
}

static PyMemberDef rect_members[] = {
    {"x", Py_T_FLOAT, offsetof(LmRectObject, x), 0, "left edge"},
    {"y", Py_T_FLOAT, offsetof(LmRectObject, y), 0, "top edge"},
    {"w", Py_T_FLOAT, offsetof(LmRectObject, w), 0, "width"},
    {"h", Py_T_FLOAT, offsetof(LmRectObject, h), 0, "height"},
    {NULL},
};

static PyMethodDef rect_methods[] = {
    {"__reduce__", rect_reduce, METH_NOARGS, NULL},
    {NULL},
};

PyTypeObject LmRectType = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "lumo_ui.fast.lmrect.lmrect.LmRect",
    .tp_basicsize = sizeof(LmRectObject),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = "LmRect(x=0, y=0, w=0, h=0): a rectangle of single floats; as a tint, "
              "(red, green, blue, transparency).",
    .tp_new = rect_tp_new,
    .tp_init = rect_init,
    .tp_repr = rect_repr,
    .tp_members = rect_members,
    .tp_methods = rect_methods,
};

/* ---- LmShader: a handle only; shaders are not made through this table ---- */

static PyObject *
shader_create_from_code(PyObject *vertex, PyObject *fragment)
{
    (void)vertex, (void)fragment;
    PyErr_SetString(PyExc_NotImplementedError,
                    "LmShader.c_create_from_code is not offered by the raylib platform");
    return NULL;
}

static LmShaderVTable shader_vtable = {shader_create_from_code};

static PyObject *
shader_tp_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    if (PyTuple_GET_SIZE(args) != 0 || (kwds != NULL && PyDict_GET_SIZE(kwds) != 0)) {
        PyErr_SetString(PyExc_TypeError, "LmShader() takes no arguments");
        return NULL;
    }
    PyObject *self = type->tp_alloc(type, 0);
    if (self != NULL) {
        ((LmShaderObject *)self)->vtab = &shader_vtable;
    }
    return self;
}

static PyMemberDef shader_members[] = {
    {"id", Py_T_UINT, offsetof(LmShaderObject, id), Py_READONLY, "shader program id"},
    {NULL},
};

PyTypeObject LmShaderType = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "lumo_ui.fast.lmshader.lmshader.LmShader",
    .tp_basicsize = sizeof(LmShaderObject),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = "LmShader(): a shader handle (id 0: none).",
    .tp_new = shader_tp_new,
    .tp_members = shader_members,
};

/* ---- registration ---- */

static int
add_type(PyObject *module, PyTypeObject *type, const char *name, void *vtable)
{
    if (PyType_Ready(type) < 0) {
        return -1;
    }
    PyObject *cap = PyCapsule_New(vtable, NULL, NULL);
    if (cap == NULL) {
        return -1;
    }
    int rc = PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", cap);
    Py_DECREF(cap);
    PyType_Modified(type);
    return rc < 0 ? -1 : PyModule_AddObjectRef(module, name, (PyObject *)type);
}

int
values_ready(PyObject *module)
{
    if (add_type(module, &LmVector2Type, "LmVector2", &vector2_vtable) < 0 ||
        add_type(module, &LmRectType, "LmRect", &rect_vtable) < 0 ||
        add_type(module, &LmShaderType, "LmShader", &shader_vtable) < 0) {
        return -1;
    }
    return 0;
}
