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
#include <stdint.h>

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
    void (*UnloadRenderTexture)(RlRenderTexture target);
    unsigned int (*rlGetActiveFramebuffer)(void);
    void (*rlEnableFramebuffer)(unsigned int id);
    void (*rlDrawRenderBatchActive)(void);
    bool (*rlCheckRenderBatchLimit)(int vCount);
    void *(*rlGetProcAddress)(const char *procName);
    void *(*glfwGetCurrentContext)(void);
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
bool is_texture(PyObject *obj);
bool is_render_texture(PyObject *obj);
uintptr_t cdata_address(PyObject *obj);  /* of a cdata a reader accepted */
int read_texture(PyObject *obj, RlTexture *out);
int read_handle(PyObject *obj, RlRenderTexture *out);          /* any id */
int read_render_texture(PyObject *obj, RlRenderTexture *out);  /* id 0 refused */
int read_color(PyObject *obj, RlColor *out, RlColor if_none);
int read_rect_tint(PyObject *obj, RlColor *out);
int read_floats(PyObject *obj, float *out, Py_ssize_t n, const char *what);

/* ---- queued draws (batch.c); the window must be open, on its thread ---- */

/* Vertices raylib's active batch holds: 0 until measured in this window,
 * -1 when it cannot be measured (the queue is then drawn every time). */
extern int batch_room;
void draw_queued_slow(void);

/* Draws what raylib has queued, if anything.  raylib has no count of what
 * its batch holds, but rlCheckRenderBatchLimit(n) draws the batch, and
 * says so, when n more vertices would not fit: asked with one vertex less
 * than the batch holds, exactly when a vertex is queued.  This runs before
 * every clear, so the usual case, nothing queued, is one call. */
static inline void
draw_queued(void)
{
    if (batch_room > 0 && !rl.rlCheckRenderBatchLimit(batch_room - 1)) {
        return;
    }
    draw_queued_slow();
}

void finish_drawing(void);  /* the same, then waits for GL: before a read */
void batch_changed(void);   /* a new window or batch: what it holds is unknown */
void bind_again(unsigned int framebuffer, unsigned int freed);

/* ---- lifetimes (lifetimes.c): the window's thread, live handles ---- */

extern unsigned long window_thread;  /* 0: no window known to be open */
extern size_t deferred_unloads;
int lifetimes_init(PyObject *module);
int platform_guard_slow(void);

/* What a message calls the handle or texture checked: what the caller passed. */
extern const char SOURCE[], TARGET[], TEXTURE[], HANDLE[];
int check_handle(PyObject *handle, const RlRenderTexture *rt, const char *subject);
int check_texture(PyObject *texture, const RlTexture *tex, const char *subject);
int check_blend_mode(int mode);

/* The render texture that texture mode was begun on through the platform;
 * id 0 when none is known. */
extern RlRenderTexture drawing_into;
void drawing_into_begun(const RlRenderTexture *target);
void drawing_into_ended(void);
int refuse_drawing_into_itself(void);

/* A draw of the colour texture of the render texture being drawn into
 * would have GL read and write the same pixels: refused.  One comparison
 * when it is another texture. */
static inline int
check_not_drawn_into(const RlTexture *tex)
{
    if (tex->id != drawing_into.texture.id || drawing_into.id == 0) {
        return 0;
    }
    return refuse_drawing_into_itself();
}

/* A texture about to be drawn: alive, and not the one being drawn into. */
static inline int
check_source(PyObject *texture, const RlTexture *tex, const char *subject)
{
    return check_texture(texture, tex, subject) < 0 || check_not_drawn_into(tex) < 0 ? -1 : 0;
}

/* 0 when raylib may be called now: a window is open and this is its
 * thread.  Runs the unloads deferred from other threads when it can. */
static inline int
platform_guard(void)
{
    if (window_thread == PyThread_get_thread_ident() && deferred_unloads == 0 &&
        rl.IsWindowReady()) {
        return 0;
    }
    return platform_guard_slow();
}

/* ---- back-end (backend.c) ---- */

int backend_init(PyObject *module, PyObject *ffi, PyObject *lib);
void draw_at(const RlTexture *tex, float x, float y, int flip, RlColor tint);
PyObject *display_fast_blit_pro(PyObject *self, PyObject *const *args, Py_ssize_t nargs);
PyObject *py_begin_texture_mode(PyObject *self, PyObject *handle);
PyObject *py_end_texture_mode(PyObject *self, PyObject *unused);
PyObject *raylib_floor(PyObject *self, PyObject *args);  /* floor.c */

#define RL_WHITE ((RlColor){255, 255, 255, 255})
#define RL_BLANK ((RlColor){0, 0, 0, 0})

#endif
