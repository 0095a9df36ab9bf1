/* x-cursor: moves the X pointer to (X, Y) on the display, waits for the
 * program under it to set its cursor, and prints the cursor the X server
 * then shows, as one JSON line:
 *   {"width":W,"height":H,"hotspot":[x,y],"black":N,"white":N,"clear":N,
 *    "at_hotspot":"black"|"white"|"clear"|"other"}
 * Screenshots carry no pointer; this is how a test sees it.
 *
 *   x-cursor DISPLAY X Y
 */
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static const char *Kind(unsigned long argb)
{
    unsigned alpha = (unsigned)(argb >> 24) & 0xFF, rgb = (unsigned)argb & 0xFFFFFF;
    if (alpha == 0) return "clear";
    if (alpha == 0xFF && rgb == 0) return "black";
    if (alpha == 0xFF && rgb == 0xFFFFFF) return "white";
    return "other";
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: x-cursor DISPLAY X Y\n");
        return 2;
    }
    Display *display = XOpenDisplay(argv[1]);
    if (!display) {
        fprintf(stderr, "x-cursor: cannot open display %s\n", argv[1]);
        return 2;
    }
    Window root = DefaultRootWindow(display);
    int x = atoi(argv[2]), y = atoi(argv[3]);
    /* From outside the point, in steps, so that the window under it sees the
     * pointer enter and move, whatever position the pointer had before. */
    for (int step = 4; step >= 0; step--) {
        XWarpPointer(display, None, root, 0, 0, 0, 0, x - 3 * step, y);
        XSync(display, False);
        usleep(100 * 1000);
    }
    usleep(500 * 1000);
    XFixesCursorImage *cursor = XFixesGetCursorImage(display);
    if (!cursor) {
        fprintf(stderr, "x-cursor: no cursor image\n");
        return 2;
    }
    int counts[3] = {0, 0, 0};
    for (int i = 0; i < cursor->width * cursor->height; i++) {
        const char *k = Kind(cursor->pixels[i]);
        if (k[0] == 'b') counts[0]++;
        else if (k[0] == 'w') counts[1]++;
        else if (k[0] == 'c') counts[2]++;
    }
    printf("{\"width\":%d,\"height\":%d,\"hotspot\":[%d,%d],\"black\":%d,\"white\":%d,"
           "\"clear\":%d,\"at_hotspot\":\"%s\"}\n",
           cursor->width, cursor->height, cursor->xhot, cursor->yhot, counts[0], counts[1],
           counts[2], Kind(cursor->pixels[cursor->yhot * cursor->width + cursor->xhot]));
    XFree(cursor);
    XCloseDisplay(display);
    return 0;
}
