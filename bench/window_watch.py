#!/usr/bin/env python3
"""Times a window program's start on an X display: launch to its main window mapped, and launch
to the first frame of the preview (the preview's centre pixel turns to a colour that is neither
the pane's black, nor white, nor what it showed when the window came up).

    window_watch.py [--title Sarnika] [--list-width 196] [--limit 60] [--save-all] -- COMMAND...

Prints one line "shown_ms=N frame_ms=N pid=N" and leaves the program running for the caller
(which ends it by that pid). With --save-all it then presses Ctrl+S, accepts the folder dialog
as it opens (on the documents folder) with Return, and adds save_ms: from that Return to the
question that ends the run (needs xdotool). One process polling with Xlib through ctypes: the watcher itself
must not compete with the program for the CPU, as a shell loop of xwininfo and import does.
"""
import argparse
import ctypes
import ctypes.util
import os
import subprocess
import sys
import time

xlib = ctypes.CDLL(ctypes.util.find_library("X11"))
xlib.XOpenDisplay.restype = ctypes.c_void_p
xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
xlib.XDefaultRootWindow.restype = ctypes.c_ulong
xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
xlib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                            ctypes.POINTER(ctypes.c_uint)]
xlib.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
xlib.XFree.argtypes = [ctypes.c_void_p]
xlib.XGetImage.restype = ctypes.c_void_p
xlib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                           ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
xlib.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                       ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_ulong)]
xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xlib.XSetErrorHandler.argtypes = [ctypes.c_void_p]

ALL_PLANES = ctypes.c_ulong(-1).value
Z_PIXMAP = 2
IS_VIEWABLE = 2


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("c_class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XImageHead(ctypes.Structure):
    # The leading members of XImage, up to the pixel data and its layout.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


xlib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                      ctypes.POINTER(XWindowAttributes)]
# Windows come and go while the tree is walked: their errors are no reason to stop.
ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
xlib.XSetErrorHandler(ctypes.cast(ERROR_HANDLER, ctypes.c_void_p))


def children(display, window):
    root, parent = ctypes.c_ulong(), ctypes.c_ulong()
    kids, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not xlib.XQueryTree(display, window, ctypes.byref(root), ctypes.byref(parent),
                           ctypes.byref(kids), ctypes.byref(count)):
        return []
    found = [kids[i] for i in range(count.value)]
    if kids:
        xlib.XFree(kids)
    return found


def name_of(display, window):
    name = ctypes.c_char_p()
    if not xlib.XFetchName(display, window, ctypes.byref(name)) or not name.value:
        return None
    text = name.value.decode("utf-8", "replace")
    return text


def find_viewable(display, root, title, min_width=200):
    stack = [root]
    while stack:
        window = stack.pop()
        if name_of(display, window) == title:
            attributes = XWindowAttributes()
            if (xlib.XGetWindowAttributes(display, window, ctypes.byref(attributes))
                    and attributes.map_state == IS_VIEWABLE and attributes.width > min_width):
                return window, attributes
        stack.extend(children(display, window))
    return None, None


def pixel(display, root, x, y):
    image = xlib.XGetImage(display, root, x, y, 1, 1, ALL_PLANES, Z_PIXMAP)
    if not image:
        return None
    head = XImageHead.from_address(image)
    value = tuple(head.data[i] for i in range(3))  # blue, green, red
    # XDestroyImage is a macro over the image's own destroy function: free data and struct.
    xlib.XFree(head.data)
    xlib.XFree(ctypes.c_void_p(image))
    return value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--title", default="Sarnika")
    parser.add_argument("--list-width", type=int, default=196)
    parser.add_argument("--limit", type=float, default=60.0)
    parser.add_argument("--save-all", action="store_true")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    display = xlib.XOpenDisplay(None)
    if not display:
        sys.exit("window_watch: cannot open the display")
    root = xlib.XDefaultRootWindow(display)
    started = time.monotonic()
    program = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shown = frame = None
    point = base = None
    while time.monotonic() - started < args.limit and program.poll() is None:
        if shown is None:
            window, attributes = find_viewable(display, root, args.title)
            if window:
                shown = time.monotonic() - started
                x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
                xlib.XTranslateCoordinates(display, window, root, 0, 0, ctypes.byref(x),
                                           ctypes.byref(y), ctypes.byref(child))
                # The centre of the preview: right of the list, half way down the window.
                point = (x.value + args.list_width + (attributes.width - args.list_width) // 2,
                         y.value + attributes.height // 2)
                base = pixel(display, root, *point)
        else:
            colour = pixel(display, root, *point)
            if colour and colour not in (base, (0, 0, 0), (255, 255, 255)):
                frame = time.monotonic() - started
                break
        time.sleep(0.005)
    ms = lambda seconds: "none" if seconds is None else str(round(seconds * 1000))
    line = f"shown_ms={ms(shown)} frame_ms={ms(frame)}"
    if args.save_all and shown is not None:
        line += f" save_ms={ms(save_all(display, root, args.limit))}"
    print(f"{line} pid={program.pid}", flush=True)


def wait_for(display, root, title, limit):
    started = time.monotonic()
    while time.monotonic() - started < limit:
        window, _ = find_viewable(display, root, title, min_width=0)
        if window:
            return window
        time.sleep(0.005)
    return None


def save_all(display, root, limit):
    main_window = wait_for(display, root, "Sarnika", limit)
    subprocess.run(["xdotool", "windowactivate", "--sync", str(main_window)], check=False)
    subprocess.run(["xdotool", "key", "ctrl+s"], check=False)
    dialog = wait_for(display, root, "Select directory to save movies...", limit)
    if not dialog:
        return None
    subprocess.run(["xdotool", "windowactivate", "--sync", str(dialog)], check=False)
    time.sleep(0.3)  # the dialog takes the focus once it is active
    started = time.monotonic()
    subprocess.run(["xdotool", "key", "Return"], check=False)
    if not wait_for(display, root, "Congratulations", limit):
        return None
    return time.monotonic() - started


if __name__ == "__main__":
    main()
