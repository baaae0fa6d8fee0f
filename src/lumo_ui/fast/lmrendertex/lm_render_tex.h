/* Native interface of lumo_ui.fast.lmrendertex.lm_render_tex for sibling
 * extension modules: the LmRenderTexture record and its table of native
 * methods. The layout is shared by pointer with other modules, so the field
 * order and types below must never change.
 *
 * Every entry must be called with the interpreter lock held. Entries that
 * return nothing report a failure by leaving an exception set; get_width and
 * get_height return 0.0 with an exception set; entries returning an object
 * return NULL with an exception set. The trailing skip_dispatch flag: 0 lets a
 * Python subclass's override of the same name run instead, 1 always runs the
 * type's own body. */
#ifndef LUMO_UI_LM_RENDER_TEX_H
#define LUMO_UI_LM_RENDER_TEX_H

#include <Python.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct LmRenderTextureMethods;

/* The record. Read its fields freely; write render_texture and loaded only
 * through the Python-level properties (or kill): the module counts, per
 * handle object (by identity), the loaded records that hold it, so that a
 * handle shared by several targets is given back once, by the last of them.
 * A direct write bypasses that count. Handles copied by pickling or deepcopy
 * are other objects and are counted apart. */
typedef struct LmRenderTexture {
  PyObject_HEAD
  struct LmRenderTextureMethods *methods;
  PyObject *render_texture; /* the raylib render texture handle; never NULL while alive */
  PyObject *size;           /* an LmVector2 or None */
  int loaded;               /* 0 or 1 */
} LmRenderTexture;

/* The records of the vector and rectangle types are defined by their own
 * modules; here they are only passed by pointer. */
struct LmVector2;
struct LmRect;

typedef struct LmRenderTextureMethods {
  /* Ownership: every argument is borrowed; the callee takes no reference the
   * caller must give up, and the caller keeps its own. Only new_, get_rect and
   * c_get_texture return an object, and each returns a NEW reference that the
   * caller owns and must release. The other entries return no object. */

  /* Draws lm_texture at dest (a 2- or 4-tuple); returns nothing. */
  void (*c_fast_blit)(LmRenderTexture *self, LmRenderTexture *lm_texture,
                      PyObject *dest, int flip, PyObject *color);
  /* Draws a plain texture on the display; returns nothing. */
  void (*c_fast_blit_texture)(LmRenderTexture *self, PyObject *texture,
                              PyObject *dest, int flip, PyObject *color);
  /* Draws lm_texture at a vector with a rectangle colour; returns nothing. */
  void (*c_fast_lmblit)(LmRenderTexture *self, LmRenderTexture *lm_texture,
                        struct LmVector2 *dest, int blend_mode, int flip,
                        struct LmRect *color);
  /* Clears the current target; returns nothing. */
  void (*c_fast_clear)(LmRenderTexture *self, PyObject *color);
  /* Clears self inside its own texture mode; returns nothing. */
  void (*c_clear)(LmRenderTexture *self, PyObject *color);
  /* Overridable; return nothing. */
  void (*clear)(LmRenderTexture *self, PyObject *color, int skip_dispatch);
  void (*fast_clear)(LmRenderTexture *self, PyObject *color, int skip_dispatch);
  void (*fill)(LmRenderTexture *self, PyObject *color, int skip_dispatch);
  void (*kill)(LmRenderTexture *self, int skip_dispatch);
  /* Overridable. Returns a NEW reference the caller owns: an LmRect, or None
   * when an override returned None; NULL on failure. */
  struct LmRect *(*get_rect)(LmRenderTexture *self, int skip_dispatch);
  /* Overridable; return a plain double (0.0 with an exception on failure). */
  double (*get_height)(LmRenderTexture *self, int skip_dispatch);
  double (*get_width)(LmRenderTexture *self, int skip_dispatch);
  /* Returns a NEW reference the caller owns: the handle's texture; NULL on
   * failure. */
  PyObject *(*c_get_texture)(LmRenderTexture *self);
  /* Returns a NEW reference the caller owns: a loaded LmRenderTexture of the
   * given size (which it keeps a reference to); NULL on failure. */
  LmRenderTexture *(*new_)(struct LmVector2 *size);
} LmRenderTextureMethods;

#ifdef __cplusplus
#define LM_RENDER_TEX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define LM_RENDER_TEX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

LM_RENDER_TEX_STATIC_ASSERT(offsetof(LmRenderTexture, methods) == sizeof(PyObject),
                            "method table pointer follows the object header");
LM_RENDER_TEX_STATIC_ASSERT(offsetof(LmRenderTexture, render_texture) ==
                                sizeof(PyObject) + sizeof(void *),
                            "render_texture follows the method table pointer");
LM_RENDER_TEX_STATIC_ASSERT(offsetof(LmRenderTexture, size) ==
                                sizeof(PyObject) + 2 * sizeof(void *),
                            "size follows render_texture");
LM_RENDER_TEX_STATIC_ASSERT(offsetof(LmRenderTexture, loaded) ==
                                sizeof(PyObject) + 3 * sizeof(void *),
                            "loaded follows size");
LM_RENDER_TEX_STATIC_ASSERT(sizeof(LmRenderTextureMethods) == 14 * sizeof(void (*)(void)),
                            "the method table has exactly 14 entries");
LM_RENDER_TEX_STATIC_ASSERT(offsetof(LmRenderTextureMethods, new_) ==
                                13 * sizeof(void (*)(void)),
                            "new is the last entry");

/* Fetches the method table published on the type as the nameless capsule
 * __pyx_vtable__. Returns NULL with an exception set if the type carries none.
 * The table lives as long as the process: the module is never unloaded. */
static inline LmRenderTextureMethods *LmRenderTexture_GetMethods(PyTypeObject *type) {
  PyObject *capsule = PyObject_GetAttrString((PyObject *)type, "__pyx_vtable__");
  if (capsule == NULL) return NULL;
  void *table = PyCapsule_GetPointer(capsule, NULL);
  Py_DECREF(capsule);
  return (LmRenderTextureMethods *)table;
}

/* Imports the module and returns a new reference to the LmRenderTexture type,
 * storing its method table in *methods; NULL with an exception set on failure. */
static inline PyTypeObject *LmRenderTexture_ImportType(LmRenderTextureMethods **methods) {
  PyObject *module = PyImport_ImportModule("lumo_ui.fast.lmrendertex.lm_render_tex");
  if (module == NULL) return NULL;
  PyObject *type = PyObject_GetAttrString(module, "LmRenderTexture");
  Py_DECREF(module);
  if (type == NULL) return NULL;
  if (!PyType_Check(type)) {
    PyErr_SetString(PyExc_TypeError, "LmRenderTexture is not a type object");
    Py_DECREF(type);
    return NULL;
  }
  *methods = LmRenderTexture_GetMethods((PyTypeObject *)type);
  if (*methods == NULL) {
    Py_DECREF(type);
    return NULL;
  }
  return (PyTypeObject *)type;
}

#ifdef __cplusplus
}
#endif

#endif /* LUMO_UI_LM_RENDER_TEX_H */
