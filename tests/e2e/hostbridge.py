"""Runs Linux programs for Windows test programs under Wine, which cannot
wait for one themselves (tests/support/hostprocess.h is the other side).

A request is <id>.json in the folder: {"program": ..., "arguments": [...]}.
The answer is <id>.done: {"code", "crashed", "out", "err"}, the outputs in
base64. Arguments that are Windows paths (C:\\... or C:/...) are turned into
the Linux paths of the Wine prefix's drives, and back again in the output."""
import base64
import json
import os
import re
import subprocess
import threading
from pathlib import Path

WINDOWS_PATH = re.compile(r"^([A-Za-z]):[\\/]")


def unix_path(argument, prefix):
    match = WINDOWS_PATH.match(argument)
    if not match:
        return argument
    drive = Path(prefix) / "dosdevices" / (match.group(1).lower() + ":")
    return os.path.join(os.path.realpath(drive), argument[3:].replace("\\", "/"))


class HostBridge:
    def __init__(self, folder, prefix, timeout=600):
        self.folder = Path(folder)
        self.prefix = prefix
        self.timeout = timeout
        self.folder.mkdir(parents=True, exist_ok=True)
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.served = 0

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *_):
        self.stopping.set()
        self.thread.join()

    def serve(self):
        while not self.stopping.wait(0.02):
            for request in self.folder.glob("*.json"):
                taken = request.with_suffix(".taken")
                try:
                    request.rename(taken)
                except OSError:
                    continue
                self.served += 1
                threading.Thread(target=self.answer, args=(taken,), daemon=True).start()

    def answer(self, taken):
        result = {"code": -1, "crashed": True, "out": "", "err": ""}
        try:
            request = json.loads(taken.read_text(encoding="utf-8"))
            given = [str(a) for a in request["arguments"]]
            passed = [unix_path(a, self.prefix) for a in given]
            done = subprocess.run([request["program"]] + passed, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=self.timeout)
            out = done.stdout
            for windows, linux in zip(given, passed):
                if windows != linux:
                    out = out.replace(linux.encode(), windows.encode())
            result = {"code": done.returncode if done.returncode >= 0 else -1, "crashed": done.returncode < 0,
                      "out": base64.b64encode(out).decode(), "err": base64.b64encode(done.stderr).decode()}
        except (OSError, ValueError, KeyError, subprocess.SubprocessError) as error:
            result["err"] = base64.b64encode(f"host bridge: {error}".encode()).decode()
        finally:
            taken.unlink(missing_ok=True)
        part = taken.with_suffix(".donepart")
        part.write_text(json.dumps(result))
        part.rename(taken.with_suffix(".done"))
