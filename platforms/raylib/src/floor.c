/*
 * _floor(kind, handle, texture, n): n times the raylib work of one draw,
 * with no Python in between, for benchmarks.  What is left of a draw's
 * time above this is the cost of calling it.
 *   kind 0: ClearBackground;  1: one DrawTexturePro;
 *   2: blend mode, texture mode on handle, DrawTexturePro, both ended;
 *   3: one frame: texture mode on handle, n draws at the benchmark's
 *      spots, texture mode ended.
 */
#include "platform.h"

PyObject *
raylib_floor(PyObject *self, PyObject *args)
{
    (void)self;
    int kind;
    Py_ssize_t n;
    PyObject *handle_obj, *texture_obj;
    RlRenderTexture handle;
    RlTexture tex;
    if (!PyArg_ParseTuple(args, "iOOn:_floor", &kind, &handle_obj, &texture_obj, &n) ||
        platform_guard() < 0 || read_render_texture(handle_obj, &handle) < 0 ||
        read_texture(texture_obj, &tex) < 0) {
        return NULL;
    }
    if (kind == 3) {
        rl.BeginTextureMode(handle);
        for (Py_ssize_t i = 0; i < n; i++) {
            draw_at(&tex, (float)(i % 56), (float)((i * 7) % 56), 1, RL_WHITE);
        }
        rl.EndTextureMode();
        Py_RETURN_NONE;
    }
    for (Py_ssize_t i = 0; i < n; i++) {
        if (kind == 0) {
            rl.ClearBackground((RlColor){0, 0, 0, 255});
            continue;
        }
        if (kind == 2) {
            rl.BeginBlendMode(0);
            rl.BeginTextureMode(handle);
        }
        draw_at(&tex, 3.0f, 5.0f, 1, RL_WHITE);
        if (kind == 2) {
            rl.EndTextureMode();
            rl.EndBlendMode();
        }
    }
    Py_RETURN_NONE;
}
