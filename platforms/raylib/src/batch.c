/*
 * raylib's queued draws.  raylib does not draw at once: it queues the
 * vertices of each draw in a batch and draws the batch when texture mode
 * or a blend mode changes or the batch is full.  Whatever reads, changes or
 * frees a texture meanwhile, or clears the target (a clear is not queued),
 * would act before draws that were made earlier, so the platform draws the
 * queue first.  Reads also wait for GL to finish: Mesa's threaded software
 * GL may otherwise hand back a texture without the last draws.
 */
#include "platform.h"

#include <limits.h>

int batch_room;

/* What the batch holds (see draw_queued), found by bisection on an empty
 * batch, where a check that overflows draws nothing. */
static void
measure_batch_room(void)
{
    rl.rlDrawRenderBatchActive();
    int fits = 0, overflows = INT_MAX / 2;
    if (rl.rlCheckRenderBatchLimit(fits) || !rl.rlCheckRenderBatchLimit(overflows)) {
        batch_room = -1;
        return;
    }
    while (overflows - fits > 1) {
        int middle = fits + (overflows - fits) / 2;
        if (rl.rlCheckRenderBatchLimit(middle)) {
            overflows = middle;
        }
        else {
            fits = middle;
        }
    }
    batch_room = overflows;
}

void
batch_changed(void)
{
    batch_room = 0;
}

void
draw_queued_slow(void)
{
    if (batch_room == 0) {
        measure_batch_room();  /* which draws the queue first */
        return;
    }
    /* Leaves the batch as raylib's own flush does: the check that drew the
     * queue keeps the last draw's texture as current, and that may be the
     * texture about to be freed. */
    rl.rlDrawRenderBatchActive();
}

void
finish_drawing(void)
{
    draw_queued();
    /* Looked up on every read, which costs about a microsecond: GLFW
     * unloads GL's libraries when a window closes or fails to open, so an
     * address kept from an earlier window may point nowhere now. */
    void (*gl_finish)(void) = (void (*)(void))rl.rlGetProcAddress("glFinish");
    if (gl_finish != NULL) {
        gl_finish();
    }
}

/* raylib binds the window's framebuffer when it makes or frees a render
 * texture; inside texture mode that would send the rest of the block's
 * draws, queued ones included, to the screen. */
void
bind_again(unsigned int framebuffer, unsigned int freed)
{
    if (framebuffer != 0 && framebuffer != freed) {
        rl.rlEnableFramebuffer(framebuffer);
    }
}
