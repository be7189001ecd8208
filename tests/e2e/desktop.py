"""What the end-to-end drivers share: an X server of their own (Xvfb), a
program's windows found, clicked and typed into with xdotool, the codes in
pictures read with zbarimg and ZXing C++, and a failed run's screen and output kept."""
import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ZXING = Path(__file__).resolve().parents[1] / "support/zxingdecode.py"

# The program and the worked example (tests/batch/fixtures/worked.*), as both drivers see them.
TITLE = "二维码生成工具"
TYPED = "Kestrova 二维码 42"

# What worked.xlsx turns into.
DEVICE_FOLDER = "装置检验二维码"
BOARD_FOLDER = "板卡检验二维码"
DEVICE_CODES = {
    "DEV-01.png": "Relay panel; 2024-01-01; 2024-03-15; Zone 3",
    "DEV-02.png": "2024-03-16; 7",
}
BOARD_CODES = {
    "BRD-7.png": "V2.2; SN124; 2024-01-09; 2024-01-19; OK",
    "BRD-7_CPU.png": "CPU; V3.0; SN125; 2024-04-18; ",
}
DEVICE_LOG = [
    '"Relay panel; 2024-01-01; 2024-03-15; Zone 3"',
    '"2024-03-16; 7"',
    '"Spare relay; "',
]

# Where the form puts things, in window coordinates: the preview label sits
# 22 px in from the top left; the text box and the two buttons share a strip
# that ends 22 px above the bottom, the buttons 22 px in from the right.
PREVIEW = (22, 22, 450)


def text_box_spot(w, h):
    return 60, h - 52


def excel_button_spot(w, h):
    return w - 40, h - 72


def png_button_spot(w, h):
    return w - 40, h - 28


START_TIMEOUT = 30
STEP_TIMEOUT = 15
BATCH_TIMEOUT = 30
EXIT_TIMEOUT = 10

started = time.monotonic()


def say(message):
    print(f"[{time.monotonic() - started:6.2f}s] {message}", flush=True)


class Failure(Exception):
    pass


def die_with_parent():
    # Children get SIGTERM if this script is killed outright (CTest timeout).
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


class X11:
    """Just enough Xlib to give characters keys of their own and to ask a
    window to close, as a window manager would."""

    def __init__(self):
        lib = ctypes.CDLL("libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XDisplayKeycodes.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
        lib.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        lib.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                            ctypes.POINTER(ctypes.c_int)]
        lib.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                               ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
        lib.XFree.argtypes = [ctypes.c_void_p]
        self.lib = lib

    def open(self, display):
        dpy = self.lib.XOpenDisplay(display.encode())
        if not dpy:
            raise Failure(f"cannot open display {display}")
        return dpy

    def bind_characters(self, display, characters):
        """Puts each character on a key of its own that had no symbols.

        Without this xdotool maps a spare key for each such character and
        maps it back right after the keystroke; a busy program that reads the
        keyboard map late then sees nothing, or the wrong character."""
        lib = self.lib
        dpy = self.open(display)
        try:
            low, high = ctypes.c_int(), ctypes.c_int()
            lib.XDisplayKeycodes(dpy, ctypes.byref(low), ctypes.byref(high))
            per = ctypes.c_int()
            count = high.value - low.value + 1
            table = lib.XGetKeyboardMapping(dpy, low.value, count, ctypes.byref(per))
            # The lowest keycode stands for no key at all; leave it alone.
            free = [low.value + i for i in range(1, count)
                    if not any(table[i * per.value + j] for j in range(per.value))]
            lib.XFree(table)
            if len(free) < len(characters):
                raise Failure(f"{len(characters)} characters to bind, only {len(free)} free keys")
            for keycode, char in zip(free, characters):
                code = ord(char)
                keysym = (ctypes.c_ulong * 1)(code if 0xa0 <= code <= 0xff else 0x1000000 + code)
                lib.XChangeKeyboardMapping(dpy, keycode, 1, keysym, 1)
            lib.XSync(dpy, 0)
        finally:
            lib.XCloseDisplay(dpy)

    def close_window(self, display, window):
        lib = self.lib
        dpy = self.open(display)
        try:
            event = XEvent()
            message = event.xclient
            message.type = 33  # ClientMessage
            message.window = window
            message.message_type = lib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
            message.format = 32
            message.l[0] = lib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
            if not lib.XSendEvent(dpy, window, 0, 0, ctypes.byref(event)):
                raise Failure("XSendEvent refused WM_DELETE_WINDOW")
            lib.XFlush(dpy)
        finally:
            lib.XCloseDisplay(dpy)




class Desktop:
    """One program on an Xvfb of its own. A subclass sets self.app (the
    program's process) and self.app_log, and defines run()."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.app_log = scratch / "program.log"
        self.xvfb = None
        self.app = None
        self.display = None
        self.screen = "1280x1024x24"  # Xvfb's screen: width x height x depth

    # --- processes -------------------------------------------------------

    def start_xvfb(self):
        say("starting Xvfb on a display number it picks itself")
        read_end, write_end = os.pipe()
        with open(self.scratch / "xvfb.log", "wb") as log:
            self.xvfb = subprocess.Popen(
                # -noreset: keys bound before the program connects must stay bound.
                # -dpi 96: a display at 100 % (Xvfb's own 100 DPI would scale the window by 100/96).
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-dpi", "96", "-nolisten",
                 "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + START_TIMEOUT
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise Failure(f"Xvfb did not report its display within {START_TIMEOUT}s")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise Failure("Xvfb exited before reporting its display:\n" + self.tail("xvfb.log"))
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        say(f"Xvfb (pid {self.xvfb.pid}) serves {self.display}")

    def stop(self):
        for name, proc in (("the program", self.app), ("Xvfb", self.xvfb)):
            if proc is None or proc.poll() is not None:
                continue
            say(f"stopping {name} (pid {proc.pid})")
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()

    def tail(self, name, lines=30):
        try:
            text = (self.scratch / name).read_text(errors="replace")
        except OSError:
            return f"(no {name})"
        return "\n".join(text.splitlines()[-lines:]) or f"({name} is empty)"

    # --- helpers ---------------------------------------------------------

    def tool(self, *args, check=True):
        env = dict(os.environ, DISPLAY=self.display, LC_ALL="C.UTF-8")
        done = subprocess.run(list(args), env=env, capture_output=True, timeout=STEP_TIMEOUT)
        if check and done.returncode != 0:
            raise Failure(f"{' '.join(args)} failed ({done.returncode}): {done.stderr.decode(errors='replace')}")
        return done

    def xdo(self, *args, check=True):
        return self.tool("xdotool", *args, check=check)

    def wait_for(self, what, probe, timeout=STEP_TIMEOUT, found=None):
        """Polls probe until it gives a true value; found() tells what there was instead."""
        say(f"waiting for {what} (up to {timeout}s)")
        deadline = time.monotonic() + timeout
        while True:
            if self.app is not None and self.app.poll() is not None:
                raise Failure(f"the program exited with status {self.app.returncode} while waiting for {what}")
            value = probe()
            if value:
                return value
            if time.monotonic() > deadline:
                instead = f"; found {found()}" if found else ""
                raise Failure(f"timed out after {timeout}s waiting for {what}{instead}")
            time.sleep(0.1)

    def windows(self, title):
        found = self.xdo("search", "--onlyvisible", "--name", f"^{title}$", check=False)
        return [int(w) for w in found.stdout.split()]

    def wait_window(self, title, timeout=STEP_TIMEOUT):
        return self.wait_for(f'a window named "{title}"', lambda: self.windows(title), timeout)[0]

    def wait_gone(self, title, window):
        self.wait_for(f'"{title}" to close', lambda: window not in self.windows(title))

    def geometry(self, window):
        shell = self.xdo("getwindowgeometry", "--shell", str(window)).stdout.decode()
        values = dict(line.split("=", 1) for line in shell.split())
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, window, spot):
        x, y = spot
        self.xdo("mousemove", "--window", str(window), str(x), str(y))
        self.xdo("click", "1")

    def type_text(self, text):
        self.xdo("type", "--delay", "20", text)

    def focus(self, window):
        # No window manager: give the window the keyboard directly.
        self.xdo("windowfocus", str(window))

    def cancel_box(self, title):
        """Answers a box whose default is its first button with its second."""
        box = self.wait_window(title)
        self.focus(box)
        self.xdo("key", "Tab")
        self.xdo("key", "space")
        self.wait_gone(title, box)

    def snap(self, target, window="root"):
        self.tool("import", "-window", str(window), str(target))

    def keep_screenshot(self, window, target):
        """Photographs window into target once two looks in a row agree, so
        that it has finished drawing."""
        looks = []

        def settled():
            looks.append(self.tool("import", "-window", str(window), "ppm:-").stdout)
            return len(looks) > 1 and looks[-1] == looks[-2]

        self.wait_for(f"window {window} to finish drawing", settled)
        target.parent.mkdir(parents=True, exist_ok=True)
        self.snap(target, window)
        say(f"screenshot written to {target}")

    def pixels(self, window):
        """The window as it is drawn: (width, height, a function from (x, y) to (r, g, b))."""
        data = self.tool("import", "-window", str(window), "-depth", "8", "ppm:-").stdout
        magic, size, _, rgb = data.split(b"\n", 3)
        width, height = (int(n) for n in size.split())

        def at(x, y):
            i = 3 * (y * width + x)
            return tuple(rgb[i:i + 3])
        return width, height, at

    def decode(self, image):
        """The text of the code in image as zbarimg and ZXing C++ both read it, None
        when neither finds one, or what each read when they differ. The program
        draws no quiet zone."""
        padded = self.scratch / "padded.png"
        gray = self.scratch / "padded.pgm"
        if self.tool("convert", str(image), "-bordercolor", "white", "-border", "40", str(padded),
                     check=False).returncode != 0:
            return None
        self.tool("convert", str(padded), "-colorspace", "gray", "-depth", "8", str(gray))
        by_zbar = self.tool("zbarimg", "--raw", "-q", "-Sbinary", str(padded), check=False)
        by_zxing = self.tool(sys.executable, str(ZXING), str(gray), check=False)
        if by_zxing.returncode not in (0, 1):
            raise Failure(f"ZXing C++ failed: {by_zxing.stderr.decode(errors='replace')}")
        read = [found.stdout if found.returncode == 0 else None for found in (by_zbar, by_zxing)]
        if read[0] != read[1]:
            return f"zbarimg read {read[0]!r}, ZXing C++ read {read[1]!r}"
        if read[0] is None:
            return None
        try:
            return read[0].decode("utf-8")
        except UnicodeDecodeError:
            return repr(read[0])

    def picture(self, path):
        shown = self.tool("identify", "-format", "%m %w %h", str(path), check=False)
        return shown.stdout.decode().strip() if shown.returncode == 0 else f"unreadable ({path.name})"

    def main_window(self):
        self.window = self.wait_window(TITLE, START_TIMEOUT)
        self.size = self.geometry(self.window)
        say(f"window {self.window} is {self.size[0]} x {self.size[1]}")

    def close(self):
        """Closes the window as a window manager would; the program must end with status 0."""
        say(f"asking window {self.window} to close")
        X11().close_window(self.display, self.window)
        try:
            status = self.app.wait(EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(f"kestrova still runs {EXIT_TIMEOUT}s after its window was asked to close")
        self.expect("kestrova's exit status", status, 0)

    def check_preview(self, window, preview, scale=1):
        """The typed text is in preview (qrcode.png) and in the code the window
        shows; scale is the display's scaling (2 at 200 %)."""
        self.wait_for(f"{preview.name} to hold {TYPED!r}",
                      lambda: preview.exists() and self.decode(preview) == TYPED,
                      found=lambda: repr(self.decode(preview)) if preview.exists() else "no file")
        say("ok: qrcode.png in the start folder decodes to the typed text")
        self.expect("qrcode.png", self.picture(preview), "PNG 200 200")
        if self.windows("提示"):
            raise Failure('a "提示" box came up while typing')
        shot = self.scratch / "window.png"
        label = self.scratch / "preview.png"
        x, y, side = (round(n * scale) for n in PREVIEW)

        def shown():
            self.snap(shot, window)
            self.tool("convert", str(shot), "-crop", f"{side}x{side}+{x}+{y}", "+repage", str(label))
            return self.decode(label)
        self.wait_for("the preview to show the code", lambda: shown() == TYPED, found=lambda: repr(shown()))
        say("ok: the code shown in the window")

    def expect(self, what, got, wanted):
        if got != wanted:
            raise Failure(f"{what}: got {got!r}, wanted {wanted!r}")
        say(f"ok: {what}")


def drive(run, scratch, keep_scratch):
    """Runs run.run(); on a failure keeps the screen, the program's output and
    the scratch folder. Returns the exit status for the script."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    ok = False
    try:
        run.run()
        ok = True
    except Failure as failure:
        say(f"FAILED: {failure}")
        if run.display:
            try:
                run.snap(scratch / "failure.png")
                say(f"screen saved to {scratch / 'failure.png'}")
            except (Failure, subprocess.SubprocessError) as error:
                say(f"no screenshot: {error}")
        say("the program's output:\n" + run.tail(run.app_log.name))
    finally:
        run.stop()
    if ok and not keep_scratch:
        shutil.rmtree(scratch)
    elif not ok:
        say(f"scratch kept in {scratch}")
    say("passed" if ok else "failed")
    return 0 if ok else 1
