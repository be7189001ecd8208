#!/usr/bin/python3
"""Drives the built kestrova on an X server of its own (Xvfb) the way a person
would: types into the window, saves through the save dialog, runs a batch
through the open dialog, then closes the window.

    tests/e2e/run-e2e.py [--kestrova PATH] [--scratch DIR] [--screenshot PNG] [--dialog-screenshot PNG]

--kestrova defaults to ${BUILD_DIR:-build}/kestrova; --scratch (wiped first)
defaults to a temporary folder that is kept only when the run fails;
--screenshot also writes the window, with a code in its preview, to PNG;
--dialog-screenshot the save dialog as it opens.
Needs Xvfb, xdotool, ImageMagick, zbarimg and python3-openpyxl.
"""
import argparse
import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
WORKBOOK = SOURCE / "tests/batch/fixtures/worked.xlsx"

TITLE = "二维码生成工具"
TYPED = "Kestrova 二维码 42"
EXPORT_NAME = "导出.jpg"
LONG_CSV = "device_long.csv"

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


class Run:
    def __init__(self, kestrova, scratch, screenshot, dialog_screenshot):
        self.kestrova = kestrova
        self.scratch = scratch
        self.screenshot_to = screenshot
        self.dialog_screenshot_to = dialog_screenshot
        self.home = scratch / "home"
        self.work = scratch / "work"
        self.books = scratch / "books"
        self.out = scratch / "out"
        self.fakebin = scratch / "bin"
        self.opened = scratch / "opened.log"
        self.app_log = scratch / "kestrova.log"
        self.xvfb = None
        self.app = None
        self.display = None
        self.window = None
        self.size = None

    # --- processes -------------------------------------------------------

    def start_xvfb(self):
        say("starting Xvfb on a display number it picks itself")
        read_end, write_end = os.pipe()
        with open(self.scratch / "xvfb.log", "wb") as log:
            self.xvfb = subprocess.Popen(
                # -noreset: keys bound before the program connects must stay bound.
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset"],
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

    def start_kestrova(self):
        env = {
            "PATH": f"{self.fakebin}:{os.environ.get('PATH', '/usr/bin:/bin')}",
            "HOME": str(self.home),
            "DISPLAY": self.display,
            "QT_QPA_PLATFORM": "xcb",
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "XDG_RUNTIME_DIR": str(self.scratch / "runtime"),
            "QT_FORCE_STDERR_LOGGING": "1",
        }
        if "LD_LIBRARY_PATH" in os.environ:
            env["LD_LIBRARY_PATH"] = os.environ["LD_LIBRARY_PATH"]
        say(f"starting {self.kestrova} in {self.work}")
        with open(self.app_log, "wb") as log:
            self.app = subprocess.Popen([str(self.kestrova)], cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent)

    def stop(self):
        for name, proc in (("kestrova", self.app), ("Xvfb", self.xvfb)):
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
                raise Failure(f"kestrova exited with status {self.app.returncode} while waiting for {what}")
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

    def decode(self, image):
        """The text of the code in image, or None. The program draws no quiet zone."""
        padded = self.scratch / "padded.png"
        if self.tool("convert", str(image), "-bordercolor", "white", "-border", "40", str(padded),
                     check=False).returncode != 0:
            return None
        found = self.tool("zbarimg", "--raw", "-q", "-Sbinary", str(padded), check=False)
        if found.returncode != 0:
            return None
        try:
            return found.stdout.decode("utf-8")
        except UnicodeDecodeError:
            return repr(found.stdout)

    def picture(self, path):
        shown = self.tool("identify", "-format", "%m %w %h", str(path), check=False)
        return shown.stdout.decode().strip() if shown.returncode == 0 else f"unreadable ({path.name})"

    def expect(self, what, got, wanted):
        if got != wanted:
            raise Failure(f"{what}: got {got!r}, wanted {wanted!r}")
        say(f"ok: {what}")

    def nothing_opened(self):
        if self.opened.exists():
            raise Failure("the program asked the desktop to open: " + self.opened.read_text().strip())

    # --- the run ---------------------------------------------------------

    def prepare(self):
        if self.scratch.exists():
            shutil.rmtree(self.scratch)
        for folder in (self.home / "Desktop", self.work, self.books, self.out, self.fakebin):
            folder.mkdir(parents=True)
        (self.scratch / "runtime").mkdir(mode=0o700)
        shutil.copy(WORKBOOK, self.books / WORKBOOK.name)
        # Stands in for the desktop's opener, so "打开…" is seen, not acted on.
        opener = self.fakebin / "xdg-open"
        opener.write_text(f'#!/bin/sh\necho "$@" >> "{self.opened}"\n')
        opener.chmod(0o755)

    def main_window(self):
        self.window = self.wait_window(TITLE, START_TIMEOUT)
        self.size = self.geometry(self.window)
        say(f"window {self.window} is {self.size[0]} x {self.size[1]}")

    def live_preview(self):
        self.focus(self.window)
        self.click(self.window, text_box_spot(*self.size))
        say(f"typing {TYPED!r}")
        self.type_text(TYPED)
        preview = self.work / "qrcode.png"
        self.wait_for(f"{preview.name} to hold {TYPED!r}",
                      lambda: preview.exists() and self.decode(preview) == TYPED,
                      found=lambda: repr(self.decode(preview)) if preview.exists() else "no file")
        say("ok: qrcode.png decodes to the typed text")
        self.expect("qrcode.png", self.picture(preview), "PNG 200 200")
        if self.windows("提示"):
            raise Failure('a "提示" box came up while typing')

        shot = self.scratch / "window.png"
        self.snap(shot, self.window)
        label = self.scratch / "preview.png"
        x, y, side = PREVIEW
        self.tool("convert", str(shot), "-crop", f"{side}x{side}+{x}+{y}", "+repage", str(label))
        self.expect("the code shown in the window", self.decode(label), TYPED)
        if self.screenshot_to:
            self.keep_screenshot(self.window, self.screenshot_to)

    def export(self):
        target = self.out / EXPORT_NAME
        self.click(self.window, png_button_spot(*self.size))
        dialog = self.wait_window("保存文件")
        if self.dialog_screenshot_to:
            self.keep_screenshot(dialog, self.dialog_screenshot_to)
        self.focus(dialog)
        self.xdo("key", "ctrl+a")
        say(f"saving as {target}")
        self.type_text(str(target))
        self.xdo("key", "Return")
        self.wait_gone("保存文件", dialog)
        if self.windows("警告"):
            raise Failure('the export ended with a "警告" box')
        self.cancel_box("提示")
        if not target.exists():
            raise Failure(f"no {target}; out/ holds {sorted(p.name for p in self.out.iterdir())}")
        self.expect(f"out/{EXPORT_NAME}", self.picture(target), "JPEG 200 200")
        self.expect("the exported code", self.decode(target), TYPED)
        self.nothing_opened()

    def batch(self):
        workbook = self.books / WORKBOOK.name
        self.click(self.window, excel_button_spot(*self.size))
        dialog = self.wait_window("选择文件")
        self.focus(dialog)
        say(f"opening {workbook}")
        self.type_text(str(workbook))
        self.xdo("key", "Return")
        self.wait_gone("选择文件", dialog)

        # The worked example leaves a row, two text dates and a nameless
        # record out: a "警告" box tells of them before the final box.
        account = self.wait_window("警告", BATCH_TIMEOUT)
        self.focus(account)
        self.xdo("key", "Escape")
        self.wait_gone("警告", account)

        def outcome():
            return ("提示" if self.windows("提示") else None) or ("警告" if self.windows("警告") else None)

        if self.wait_for("the batch to end with a box", outcome, BATCH_TIMEOUT) == "警告":
            raise Failure('the batch ended with a "警告" box (二维码信息生成失败: '
                          "the workbook could not be read or saved back)")
        self.cancel_box("提示")

        for folder, codes in ((DEVICE_FOLDER, DEVICE_CODES), (BOARD_FOLDER, BOARD_CODES)):
            where = self.books / folder
            files = sorted(p.name for p in where.iterdir()) if where.is_dir() else "<no folder>"
            self.expect(f"files in {folder}", files, sorted(codes))
            for name, payload in codes.items():
                self.expect(f"{folder}/{name}", self.decode(where / name), payload)
        self.expect("what the batch left beside the workbook",
                    sorted(p.name for p in self.books.iterdir() if p.name != LONG_CSV),
                    sorted([WORKBOOK.name, DEVICE_FOLDER, BOARD_FOLDER]))

        logged = [line for line in self.app_log.read_text(errors="replace").splitlines() if line in DEVICE_LOG]
        self.expect("device payloads in the program's log", logged, DEVICE_LOG)

        import openpyxl
        saved = openpyxl.load_workbook(workbook)
        self.expect("sheets of the saved-back workbook", saved.sheetnames, ["notes", "device_list", "board_2024"])
        self.expect("device_list!A2 after saving back", saved["device_list"]["A2"].value, "DEV-01")
        self.nothing_opened()

    def cancel_by_closing(self):
        """Starts a long batch, closes the window during it: the run stops,
        says how far it got, and then the window closes."""
        rows = 5000
        book = self.books / LONG_CSV
        book.write_text("Key,Name\n" + "".join(f"L{i:05d},long run {i}\n" for i in range(rows)))
        self.click(self.window, excel_button_spot(*self.size))
        dialog = self.wait_window("选择文件")
        self.focus(dialog)
        self.type_text(str(book))
        self.xdo("key", "Return")
        self.wait_gone("选择文件", dialog)
        self.wait_window("二维码生成中", BATCH_TIMEOUT)
        say(f"asking window {self.window} to close during the batch")
        X11().close_window(self.display, self.window)
        box = self.wait_window("警告")
        written = len(list((self.books / DEVICE_FOLDER).glob("L*.png")))
        if not 0 < written < rows:
            raise Failure(f"{written} of {rows} images written before the cancel")
        say(f"ok: cancelled after {written} images")
        self.focus(box)
        self.xdo("key", "Escape")
        try:
            status = self.app.wait(EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(f"kestrova still runs {EXIT_TIMEOUT}s after the cancel box of a closed window")
        self.expect("kestrova's exit status", status, 0)
        self.expect(f"{LONG_CSV} after the cancel", book.read_text().count("\n"), rows + 1)

    def close(self):
        say(f"asking window {self.window} to close")
        X11().close_window(self.display, self.window)
        try:
            status = self.app.wait(EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(f"kestrova still runs {EXIT_TIMEOUT}s after its window was asked to close")
        self.expect("kestrova's exit status", status, 0)

    def run(self):
        self.prepare()
        self.start_xvfb()
        # Keys for what is not on the keyboard, bound before the program reads the map.
        typed = TYPED + str(self.out / EXPORT_NAME) + str(self.books / WORKBOOK.name) + str(self.books / LONG_CSV)
        extra = sorted({char for char in typed if ord(char) > 0x7e})
        say(f"binding keys for {''.join(extra)!r}")
        X11().bind_characters(self.display, extra)
        self.start_kestrova()
        self.main_window()
        self.live_preview()
        self.export()
        self.batch()
        self.cancel_by_closing()
        # The opener starts detached; by now it would have written its line.
        self.nothing_opened()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kestrova", type=Path,
                        default=SOURCE / os.environ.get("BUILD_DIR", "build") / "kestrova")
    parser.add_argument("--scratch", type=Path)
    parser.add_argument("--screenshot", type=Path)
    parser.add_argument("--dialog-screenshot", type=Path)
    args = parser.parse_args()
    if not os.access(args.kestrova, os.X_OK):
        sys.exit(f"no program at {args.kestrova} (build first, or pass --kestrova)")
    scratch = args.scratch.resolve() if args.scratch else Path(tempfile.mkdtemp(prefix="kestrova-e2e-"))
    screenshot = args.screenshot.resolve() if args.screenshot else None
    dialog_screenshot = args.dialog_screenshot.resolve() if args.dialog_screenshot else None

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    run = Run(args.kestrova.resolve(), scratch, screenshot, dialog_screenshot)
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
        say("kestrova's output:\n" + run.tail("kestrova.log"))
    finally:
        run.stop()
    if ok and not args.scratch:
        shutil.rmtree(scratch)
    elif not ok:
        say(f"scratch kept in {scratch}")
    say("passed" if ok else "failed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
