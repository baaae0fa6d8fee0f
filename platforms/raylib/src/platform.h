/*
 * Shared declarations of the raylib platform's native module: raylib's C
 * types as its header lays them out, the table of raylib functions taken
 * from the binding's own library, the value-type records, and the readers
 * that turn Python arguments into raylib values with clear errors.
 */
#ifndef LUMO_RLPLATFORM_H
#define LUMO_RLPLATFORM_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stdbool.h>

/* ---- raylib's C types (raylib.h; sizes are checked against the binding) */

typedef struct { unsigned int id; int width, height, mipmaps, format; } RlTexture;
typedef struct { unsigned int id; RlTexture texture; RlTexture depth; } RlRenderTexture;
typedef struct { unsigned char r, g, b, a; } RlColor;
typedef struct { float x, y, width, height; } RlRectangle;
typedef struct { float x, y; } RlVector2;

/* The raylib functions this module calls, from the library that the
 * binding loaded: one raylib, one GL context, one set of draw batches. */
typedef struct {
    bool (*IsWindowReady)(void);
    void (*BeginTextureMode)(RlRenderTexture target);
    void (*EndTextureMode)(void);
    void (*BeginBlendMode)(int mode);
    void (*EndBlendMode)(void);
    void (*ClearBackground)(RlColor color);
    void (*DrawTexturePro)(RlTexture texture, RlRectangle source, RlRectangle dest,
                           RlVector2 origin, float rotation, RlColor tint);
} RaylibApi;

extern RaylibApi rl;

/* ---- value types: records as the platform contract lays them out ---- */

typedef struct { PyObject *(*new_)(double x, double y); } LmVector2VTable;
typedef struct { PyObject *(*new_)(float x, float y, float w, float h); } LmRectVTable;
typedef struct { PyObject *(*c_create_from_code)(PyObject *, PyObject *); } LmShaderVTable;

typedef struct {
    PyObject_HEAD
    LmVector2VTable *vtab;
    double x, y;
} LmVector2Object;

typedef struct {
    PyObject_HEAD
    LmRectVTable *vtab;
    float x, y, w, h;
} LmRectObject;

typedef struct {
    PyObject_HEAD
    LmShaderVTable *vtab;
    unsigned int id;
    int *locs;
} LmShaderObject;

extern PyTypeObject LmVector2Type, LmRectType, LmShaderType;

/* The start of the render target's record: the back-end receives the
 * product's own objects and reads the handle from here. */
typedef struct {
    PyObject_HEAD
    void *methods;
    PyObject *render_texture;
    PyObject *size;
    int loaded;
} LmRenderTextureHead;

/* ---- readers (values.c, convert.c) ---- */

int values_ready(PyObject *module);
int convert_init(PyObject *ffi);
int window_guard(void);
int read_texture(PyObject *obj, RlTexture *out);
int read_render_texture(PyObject *obj, RlRenderTexture *out);
int read_color(PyObject *obj, RlColor *out, RlColor if_none);
int read_rect_tint(PyObject *obj, RlColor *out);
int read_floats(PyObject *obj, float *out, Py_ssize_t n, const char *what);

/* ---- back-end (backend.c) ---- */

int backend_init(PyObject *module, PyObject *ffi, PyObject *lib);
void draw_at(const RlTexture *tex, float x, float y, int flip, RlColor tint);
PyObject *display_fast_blit_pro(PyObject *self, PyObject *const *args, Py_ssize_t nargs);
PyObject *raylib_floor(PyObject *self, PyObject *args);  /* floor.c */

#define RL_WHITE ((RlColor){255, 255, 255, 255})
#define RL_BLANK ((RlColor){0, 0, 0, 0})

#endif
