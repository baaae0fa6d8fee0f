/*
 * Which render textures are alive, and which thread may call raylib.
 *
 * GL belongs to the thread that opened the window, and every GL resource
 * dies with the window.  GL hands out the ids of what was freed again, so
 * an id cannot tell a stale handle from a new one.  Handles are therefore
 * known here by the address of their struct (the cdata's memory), which
 * stays theirs while the handle object lives; a weak reference drops the
 * entry when it dies.  A handle is alive when the platform loaded it, or
 * first met it, in the window open now, and nothing unloaded it since.
 * `handle.texture` is a view into the handle's memory (the render target
 * passes it to the texture draws), so a Texture is traced to its handle by
 * address and colour-texture id.  A Texture traced to no handle is a plain
 * texture, or one of a handle never met: the platform knows nothing of its
 * life and draws it.
 */
#include "platform.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

unsigned long window_thread;
size_t deferred_unloads;

/* Counts windows: a handle belongs to the one open when it was met. */
static unsigned long window_number;

/* Unloads asked for on another thread, done on the window's thread. */
static RlRenderTexture *deferred;
static size_t deferred_room;

typedef struct {
    uintptr_t at;        /* the handle's struct; 0 marks a free slot */
    PyObject *watch;     /* weak reference to the handle, whose callback drops this */
    unsigned int id, texture_id;
    unsigned long window;
    bool unloaded;
} Known;

/* Open addressing with linear probing, at most half full. */
static Known *known;
static unsigned int known_bits;
static size_t known_count;

static size_t
home_slot(uintptr_t at)
{
    return (size_t)(((uint64_t)at * 0x9E3779B97F4A7C15u) >> (64 - known_bits));
}

static Known *
find(uintptr_t at)
{
    if (known_count == 0) {
        return NULL;
    }
    size_t mask = ((size_t)1 << known_bits) - 1;
    for (size_t i = home_slot(at);; i = (i + 1) & mask) {
        if (known[i].at == at) {
            return &known[i];
        }
        if (known[i].at == 0) {
            return NULL;
        }
    }
}

static Known *
free_slot(uintptr_t at)
{
    size_t mask = ((size_t)1 << known_bits) - 1;
    size_t i = home_slot(at);
    while (known[i].at != 0) {
        i = (i + 1) & mask;
    }
    return &known[i];
}

static int
make_room(void)
{
    if (known != NULL && 2 * (known_count + 1) <= ((size_t)1 << known_bits)) {
        return 0;
    }
    Known *old = known;
    size_t old_size = old ? (size_t)1 << known_bits : 0;
    unsigned int bits = old ? known_bits + 1 : 6;
    Known *grown = PyMem_Calloc((size_t)1 << bits, sizeof *grown);
    if (grown == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    known = grown, known_bits = bits;
    for (size_t i = 0; i < old_size; i++) {
        if (old[i].at != 0) {
            *free_slot(old[i].at) = old[i];
        }
    }
    PyMem_Free(old);
    return 0;
}

/* Empties the slot and moves later entries of its run back into the hole,
 * so that every entry stays reachable from its home slot. */
static void
drop(Known *entry)
{
    PyObject *watch = entry->watch;
    size_t mask = ((size_t)1 << known_bits) - 1;
    size_t hole = (size_t)(entry - known);
    for (size_t j = (hole + 1) & mask; known[j].at != 0; j = (j + 1) & mask) {
        size_t home = home_slot(known[j].at);
        bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (!stays) {
            known[hole] = known[j];
            hole = j;
        }
    }
    known[hole] = (Known){0};
    known_count--;
    Py_XDECREF(watch);  /* last: freeing it may run code */
}

/* The weak reference's callback: the handle object is going away. */
static PyObject *
forget(PyObject *at, PyObject *watch)
{
    Known *entry = find((uintptr_t)PyLong_AsVoidPtr(at));
    if (entry != NULL && entry->watch == watch) {
        drop(entry);
    }
    Py_RETURN_NONE;
}

static PyMethodDef forget_def = {"forget", forget, METH_O, NULL};

/* The entry of `handle`, made alive in this window when the platform meets
 * it for the first time, or again when its memory holds other ids now. */
static Known *
meet(PyObject *handle, const RlRenderTexture *rt)
{
    uintptr_t at = cdata_address(handle);
    Known *entry = find(at);
    if (entry != NULL && entry->id == rt->id && entry->texture_id == rt->texture.id) {
        return entry;
    }
    if (entry != NULL) {
        drop(entry);
    }
    PyObject *key = PyLong_FromVoidPtr((void *)at);
    PyObject *callback = key ? PyCFunction_New(&forget_def, key) : NULL;
    PyObject *watch = callback ? PyWeakref_NewRef(handle, callback) : NULL;
    Py_XDECREF(callback);
    Py_XDECREF(key);
    if (watch == NULL || make_room() < 0) {
        Py_XDECREF(watch);
        return NULL;
    }
    entry = free_slot(at);
    *entry = (Known){at, watch, rt->id, rt->texture.id, window_number, false};
    known_count++;
    return entry;
}

/* ---- the window and its thread ---- */

static void
window_opened(void)
{
    window_number++;
    window_thread = PyThread_get_thread_ident();
    batch_changed();
    drawing_into_ended();
}

/* Everything made in the window dies with it, deferred unloads included. */
static void
window_gone(void)
{
    window_number++;
    window_thread = 0;
    deferred_unloads = 0;
    batch_changed();
    drawing_into_ended();
}

/* A window opened without telling the platform belongs to the thread whose
 * GL context it is; 0 when that is this thread. */
static int
know_window(void)
{
    if (window_thread == 0 && rl.glfwGetCurrentContext() != NULL) {
        window_thread = PyThread_get_thread_ident();
    }
    if (window_thread != PyThread_get_thread_ident()) {
        PyErr_SetString(PyExc_RuntimeError,
                        "raylib can only be used from the thread that opened the window "
                        "(GL works there only); this call came from another thread");
        return -1;
    }
    return 0;
}

/* Unloading inside texture mode would unbind the current target, so the
 * deferred unloads wait until no texture mode is on. */
static void
run_deferred(void)
{
    if (deferred_unloads == 0 || rl.rlGetActiveFramebuffer() != 0) {
        return;
    }
    draw_queued();  /* queued draws may still read these textures */
    size_t n = deferred_unloads;
    deferred_unloads = 0;
    for (size_t i = 0; i < n; i++) {
        rl.UnloadRenderTexture(deferred[i]);
    }
}

int
platform_guard_slow(void)
{
    if (!rl.IsWindowReady()) {
        if (window_thread != 0) {
            window_gone();  /* closed without telling the platform */
        }
        PyErr_SetString(PyExc_RuntimeError,
                        "no raylib window is open: open one (for example "
                        "lumo_rlplatform.window.open_hidden()) first");
        return -1;
    }
    if (know_window() < 0) {
        return -1;
    }
    run_deferred();
    return 0;
}

/* ---- liveness checks of the draws ---- */

const char SOURCE[] = "the source render texture";
const char TARGET[] = "the target render texture";
const char TEXTURE[] = "the texture's render texture";
const char HANDLE[] = "the render texture";

static int
check_alive(const Known *entry, const char *subject)
{
    if (entry->unloaded) {
        PyErr_Format(PyExc_ValueError, "%s was unloaded", subject);
        return -1;
    }
    if (entry->window != window_number) {
        PyErr_Format(PyExc_ValueError, "%s was made in a window that was closed", subject);
        return -1;
    }
    return 0;
}

int
check_handle(PyObject *handle, const RlRenderTexture *rt, const char *subject)
{
    Known *entry = meet(handle, rt);
    return entry == NULL ? -1 : check_alive(entry, subject);
}

int
check_texture(PyObject *texture, const RlTexture *tex, const char *subject)
{
    if (known_count == 0) {
        return 0;
    }
    const Known *entry = find(cdata_address(texture) - offsetof(RlRenderTexture, texture));
    if (entry == NULL || entry->texture_id != tex->id) {
        return 0;
    }
    return check_alive(entry, subject);
}

/* ---- the render texture being drawn into ---- */

RlRenderTexture drawing_into;

void
drawing_into_begun(const RlRenderTexture *target)
{
    drawing_into = *target;
}

void
drawing_into_ended(void)
{
    drawing_into = (RlRenderTexture){0};
}

/* Texture mode may have been ended or begun by calling pyray directly,
 * so the record is confirmed with GL before a draw is refused. */
int
refuse_drawing_into_itself(void)
{
    if (rl.rlGetActiveFramebuffer() != drawing_into.id) {
        drawing_into_ended();
        return 0;
    }
    PyErr_SetString(PyExc_ValueError,
                    "a render texture cannot be drawn into itself (GL would read the pixels it "
                    "is writing): draw from a copy, target.copy(), instead");
    return -1;
}

static unsigned int blend_modes;  /* bit n set: n is one of the binding's BlendMode */
static int last_blend_mode;

int
check_blend_mode(int mode)
{
    if (mode >= 0 && mode < 32 && (blend_modes >> mode) & 1u) {
        return 0;
    }
    PyErr_Format(PyExc_ValueError, "blend mode %d is not one of raylib's BlendMode values (0-%d)",
                 mode, last_blend_mode);
    return -1;
}

/* ---- what the binding's Python wrappers call (lumo_rlplatform.rl) ---- */

static PyObject *
py_window_opened(PyObject *self, PyObject *unused)
{
    (void)self, (void)unused;
    if (rl.IsWindowReady()) {
        window_opened();
    }
    Py_RETURN_NONE;
}

static PyObject *
py_window_closing(PyObject *self, PyObject *unused)
{
    (void)self, (void)unused;
    if (rl.IsWindowReady() && know_window() < 0) {
        return NULL;
    }
    window_gone();
    Py_RETURN_NONE;
}

static PyObject *
py_guard(PyObject *self, PyObject *unused)
{
    (void)self, (void)unused;
    if (platform_guard() < 0) {
        return NULL;
    }
    Py_RETURN_NONE;
}

/* A handle the binding has just made: alive in this window, whatever was
 * once known at its address. */
static PyObject *
py_loaded(PyObject *self, PyObject *handle)
{
    (void)self;
    RlRenderTexture rt;
    if (read_render_texture(handle, &rt) < 0) {
        return NULL;
    }
    Known *old = find(cdata_address(handle));
    if (old != NULL) {
        drop(old);
    }
    if (meet(handle, &rt) == NULL) {
        return NULL;
    }
    Py_RETURN_NONE;
}

/* Draws the queue first, since queued draws may read this texture; keeps
 * the render texture being drawn into bound, which raylib's unload is not. */
static void
unload_now(const RlRenderTexture *rt)
{
    unsigned int bound = rl.rlGetActiveFramebuffer();
    draw_queued();
    rl.UnloadRenderTexture(*rt);
    bind_again(bound, rt->id);
    if (rt->id == drawing_into.id) {
        drawing_into_ended();
    }
}

static int
defer(const RlRenderTexture *rt)
{
    if (deferred_unloads == deferred_room) {
        size_t room = deferred_room ? 2 * deferred_room : 8;
        RlRenderTexture *grown = PyMem_Realloc(deferred, room * sizeof *grown);
        if (grown == NULL) {
            PyErr_NoMemory();
            return -1;
        }
        deferred = grown, deferred_room = room;
    }
    deferred[deferred_unloads++] = *rt;
    return 0;
}

/* Gives back what a live handle holds, once.  A dead handle holds nothing
 * any more (its ids may be another target's now), so unloading it is a
 * quiet no-op; with no window open every handle is dead.  An unload on
 * another thread is deferred to the window's thread. */
static PyObject *
py_unload_render_texture(PyObject *self, PyObject *handle)
{
    (void)self;
    RlRenderTexture rt;
    if (read_handle(handle, &rt) < 0) {
        return NULL;
    }
    if (!rl.IsWindowReady()) {
        if (window_thread != 0) {
            window_gone();
        }
        Py_RETURN_NONE;
    }
    bool here = know_window() == 0;
    PyErr_Clear();  /* an unload from another thread is not refused */
    Known *entry = rt.id == 0 ? NULL : meet(handle, &rt);
    if (entry == NULL) {
        if (PyErr_Occurred()) {
            return NULL;
        }
        Py_RETURN_NONE;  /* id 0: nothing was loaded */
    }
    if (entry->unloaded || entry->window != window_number) {
        Py_RETURN_NONE;
    }
    if (!here) {
        if (defer(&rt) < 0) {
            return NULL;
        }
        entry->unloaded = true;
        Py_RETURN_NONE;
    }
    entry->unloaded = true;
    run_deferred();
    unload_now(&rt);
    Py_RETURN_NONE;
}

/* The checks of the binding's functions that take textures or render
 * textures: window, thread, and a live handle behind a handle or a
 * handle's texture; a texture drawn may not be the one being drawn into.
 * Other objects are left to the binding. */
static int
check_argument(PyObject *obj, bool drawn)
{
    if (platform_guard() < 0) {
        return -1;
    }
    RlTexture tex;
    RlRenderTexture rt;
    if (is_texture(obj)) {
        if (read_texture(obj, &tex) < 0) {
            return -1;
        }
        return drawn ? check_source(obj, &tex, TEXTURE) : check_texture(obj, &tex, TEXTURE);
    }
    if (is_render_texture(obj)) {
        if (read_handle(obj, &rt) < 0) {
            return -1;
        }
        return rt.id != 0 ? check_handle(obj, &rt, HANDLE) : 0;
    }
    return 0;
}

/* For a function that reads, changes or frees what it is given: the draws
 * queued before it land first. */
static PyObject *
py_check(PyObject *self, PyObject *obj)
{
    (void)self;
    if (check_argument(obj, false) < 0) {
        return NULL;
    }
    draw_queued();
    Py_RETURN_NONE;
}

static PyObject *
py_check_draw(PyObject *self, PyObject *obj)
{
    (void)self;
    if (check_argument(obj, true) < 0) {
        return NULL;
    }
    Py_RETURN_NONE;
}

/* step(), once the window's thread is known to be calling. */
static PyObject *
on_window_thread(void (*step)(void))
{
    if (platform_guard() < 0) {
        return NULL;
    }
    step();
    Py_RETURN_NONE;
}

static PyObject *
py_draw_queued(PyObject *self, PyObject *unused)
{
    (void)self, (void)unused;
    return on_window_thread(draw_queued);
}

static PyObject *
py_finish_drawing(PyObject *self, PyObject *unused)
{
    (void)self, (void)unused;
    return on_window_thread(finish_drawing);
}

static PyObject *
py_batch_changed(PyObject *self, PyObject *unused)
{
    (void)self, (void)unused;
    batch_changed();
    Py_RETURN_NONE;
}

/* function(*args), with the render texture being drawn into bound again
 * afterwards (raylib's making of a render texture unbinds it). */
static PyObject *
py_keeping_target(PyObject *self, PyObject *const *args, Py_ssize_t nargs)
{
    (void)self;
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError, "_keeping_target() needs a function to call");
        return NULL;
    }
    if (platform_guard() < 0) {
        return NULL;
    }
    unsigned int bound = rl.rlGetActiveFramebuffer();
    PyObject *result = PyObject_Vectorcall(args[0], args + 1, (size_t)(nargs - 1), NULL);
    if (rl.IsWindowReady() && window_thread == PyThread_get_thread_ident()) {
        bind_again(bound, 0);
    }
    return result;
}

static PyMethodDef lifetime_methods[] = {
    {"_window_opened", py_window_opened, METH_NOARGS,
     "_window_opened(): a window was just opened on this thread; what was known dies."},
    {"_window_closing", py_window_closing, METH_NOARGS,
     "_window_closing(): the window is about to close; everything made in it dies."},
    {"_guard", py_guard, METH_NOARGS,
     "_guard(): raise unless a window is open and this is its thread."},
    {"_loaded", py_loaded, METH_O, "_loaded(handle): the binding just made this handle."},
    {"_check", py_check, METH_O,
     "_check(obj): raise if obj is a texture or render texture that is no longer alive; "
     "else draw what is queued, before obj is read, changed or freed."},
    {"_check_draw", py_check_draw, METH_O,
     "_check_draw(obj): raise if obj is a texture that is no longer alive, or the one "
     "being drawn into."},
    {"_draw_queued", py_draw_queued, METH_NOARGS,
     "_draw_queued(): draw what raylib has queued, if anything."},
    {"_finish_drawing", py_finish_drawing, METH_NOARGS,
     "_finish_drawing(): draw what is queued and wait for GL to finish, before a read."},
    {"_batch_changed", py_batch_changed, METH_NOARGS,
     "_batch_changed(): another render batch is active; measure it when next needed."},
    {"_keeping_target", (PyCFunction)(void (*)(void))py_keeping_target, METH_FASTCALL,
     "_keeping_target(function, *args): function(*args), with the render texture being "
     "drawn into bound again afterwards."},
    {"unload_render_texture", py_unload_render_texture, METH_O,
     "unload_render_texture(handle): give a live handle's GPU resource back, once."},
    {NULL},
};

int
lifetimes_init(PyObject *module)
{
    PyObject *enums = PyImport_ImportModule("raylib.enums");
    PyObject *modes = enums ? PyObject_GetAttrString(enums, "BlendMode") : NULL;
    PyObject *iter = modes ? PyObject_GetIter(modes) : NULL;
    Py_XDECREF(enums);
    Py_XDECREF(modes);
    if (iter == NULL) {
        return -1;
    }
    PyObject *item;
    while ((item = PyIter_Next(iter)) != NULL) {
        long mode = PyLong_AsLong(item);
        Py_DECREF(item);
        if (mode < 0 || mode >= 32) {
            if (!PyErr_Occurred()) {
                PyErr_Format(PyExc_ImportError, "raylib's BlendMode %ld is out of 0-31", mode);
            }
            break;
        }
        blend_modes |= 1u << mode;
        last_blend_mode = mode > last_blend_mode ? (int)mode : last_blend_mode;
    }
    Py_DECREF(iter);
    if (PyErr_Occurred()) {
        return -1;
    }
    return PyModule_AddFunctions(module, lifetime_methods);
}
