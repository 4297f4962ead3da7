"""Windows programs of the build under Wine, for the functional tests and the
demo: throwaway prefixes, programs run in them, the registry read back and
the UI robot that works their windows the way a player would."""

import os
import re
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def build_file(relative, preset="windows"):
    """A file of a Windows build tree ($MRL_WINDOWS_BUILD for the main one)."""
    default = ROOT / "build" / preset
    tree = Path(os.environ.get("MRL_WINDOWS_BUILD", default)) if preset == "windows" else default
    path = tree / relative
    if not path.exists():
        raise FileNotFoundError(f"{path} is missing: scripts/build.sh {preset}")
    return path


def updater_exe():
    return build_file("src/MirelandsUpdate.exe")


def _quiet(args, env, timeout=120):
    return subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


class WinePrefix:
    """One prefix, headless, whose wineserver is started detached: a server
    started by a program of ours would keep our pipes open."""

    def __init__(self, path):
        self.path = Path(path)
        self.server_up = False
        self.loader = "wine64"

    @property
    def env(self):
        """The environment of the moment (programs inherit what a caller set)."""
        env = dict(os.environ, PATH=os.environ.get("PATH", "") + ":/usr/lib/wine",
                   WINEPREFIX=str(self.path), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        return env

    def start_server(self):
        if not self.server_up:
            _quiet(["wineserver", "-p"], self.env)
            _quiet(["wine64", "cmd", "/c", "exit", "0"], self.env)
            # The first program that looks at windows brings up the desktop;
            # two doing so at once (the program under test and the robot)
            # can race, and one of them dies. The robot looks once, alone.
            subprocess.run(["wine64", str(build_file("tests/robot/robot.exe"))], env=self.env,
                           input="wait\t0\t#32770\t\t0\n", text=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
            self.server_up = True

    def stop_server(self):
        """Ends every program of the prefix."""
        _quiet(["wineserver", "-k"], self.env)
        _quiet(["wineserver", "-w"], self.env, timeout=30)
        self.server_up = False

    def start(self, exe, args=(), cwd=None, **pipes):
        self.start_server()
        pipes = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
                 "stderr": subprocess.DEVNULL, **pipes}
        return subprocess.Popen([self.loader, str(exe), *map(str, args)], env=self.env, cwd=cwd,
                                **pipes)

    def reg(self, *args):
        self.start_server()
        # A prefix still settling (after wineboot, or under load) can refuse a
        # write now and then.
        for _ in range(2):
            if _quiet(["wine64", "reg", *args, "/f"], self.env) == 0:
                return
            time.sleep(1)
        assert _quiet(["wine64", "reg", *args, "/f"], self.env) == 0, args

    def reg_add(self, key, name, value):
        kind = ["/t", "REG_DWORD"] if isinstance(value, int) else []
        self.reg("add", key, "/v", name, *kind, "/d", str(value))

    def reg_values(self, key):
        """{name: int or str} of a key, None when the key does not exist."""
        self.start_server()
        exported = self.path / "exported.reg"
        if _quiet(["wine64", "reg", "export", key, str(exported), "/y"], self.env):
            return None
        return read_reg_file(exported.read_text(encoding="utf-16"))

    def robot(self):
        return Robot(self)


def make_template_prefix(path):
    """A fresh prefix: null display driver, no crash dialog. About 10 s."""
    prefix = WinePrefix(path)
    prefix.path.mkdir(parents=True, exist_ok=True)
    prefix.start_server()
    _quiet(["wine64", "wineboot", "-i"], prefix.env, timeout=300)
    prefix.reg("add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "x11,null")
    prefix.reg("add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
               "/d", "0")
    prefix.stop_server()
    return prefix


# The system DLL folders (over a gigabyte with the 32-bit part of Wine) are
# never written by a test: hard links to the template's are enough.
_SHARED = ("drive_c/windows/system32", "drive_c/windows/syswow64", "drive_c/windows/winsxs")


def copy_prefix(template, target):
    """A private copy of a template prefix; the .reg files, which the server
    rewrites in place, are real copies."""
    template, target = Path(template), Path(target)

    def copy(rel):
        if rel in _SHARED:
            subprocess.run(["cp", "-al", str(template / rel), str(target / rel)], check=True)
        elif rel == "." or any(s.startswith(rel + "/") for s in _SHARED):
            (target / rel).mkdir(parents=True, exist_ok=True)
            for entry in (template / rel).iterdir():
                copy(entry.relative_to(template).as_posix())
        else:
            subprocess.run(["cp", "-a", str(template / rel), str(target / rel)], check=True)

    copy(".")
    return WinePrefix(target)


def _reg_text(quoted):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "0": "\0"}.get(m[1], m[1]),
                  quoted[1:-1])


def read_reg_file(text):
    """The values of the first key of an exported .reg file."""
    values = None
    for line in text.splitlines():
        if line.startswith("["):
            if values is not None:
                break
            values = {}
        match = re.match(r'^("(?:[^"\\]|\\.)*")=(.*)$', line)
        if values is None or not match:
            continue
        data = match[2]
        if data.startswith("dword:"):
            value = int(data[6:], 16)
        elif data.startswith('"'):
            value = _reg_text(data)
        else:  # hex(1): a text stored as bytes (UTF-16)
            raw = bytes(int(b, 16) for b in data.split(":", 1)[1].split(",") if b)
            value = raw.decode("utf-16-le").rstrip("\0")
        values[_reg_text(match[1])] = value
    return values


class Robot:
    """Client of robot.exe (tests/robot), started in the prefix."""

    def __init__(self, prefix):
        self.prefix, self.proc = prefix, None

    def close(self):
        if self.proc:
            self.proc.kill()
            self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def ask(self, *fields):
        """The reply's fields after "ok", or None for "err"."""
        line = ""
        # A robot started while the prefix's server was still coming up or
        # going down can end before it reads a request: started once more.
        for _ in range(2):
            if not self.proc or self.proc.poll() is not None:  # (re)started with the server
                self.proc = self.prefix.start(build_file("tests/robot/robot.exe"),
                                              stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                              text=True, encoding="latin-1", bufsize=1)
            try:
                self.proc.stdin.write("\t".join(map(str, fields)) + "\n")
                line = self.proc.stdout.readline()
            except BrokenPipeError:
                line = ""
            if line:
                break
            self.close()
        reply = line.rstrip("\n").split("\t")
        reply = [re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n", "t": "\t"}.get(m[1], m[1]), f)
                 for f in reply]
        return reply[1:] if reply[0] == "ok" else None

    def wait(self, *captions, timeout=20.0, cls="#32770", control=""):
        """(handle, caption) of the first window with one of the captions
        (and a control of that id)."""
        reply = self.ask("wait", int(timeout * 1000), cls, "|".join(captions), control)
        return tuple(reply) if reply else (None, None)

    def gone(self, hwnd, timeout=10.0):
        return self.ask("gone", int(timeout * 1000), hwnd) is not None

    def text(self, hwnd, control):
        reply = self.ask("text", hwnd, control)
        return reply and reply[0]

    def click(self, hwnd, control):
        return self.ask("click", hwnd, control) is not None

    def dismiss_boxes(self, program, captions=("Error Message", "Warning"), timeout=60.0):
        """Reads and presses OK on every message box until the program ends;
        [(caption, text)] in the order shown."""
        boxes, deadline = [], time.monotonic() + timeout
        while program.poll() is None:
            assert time.monotonic() < deadline, f"still running after {timeout} s; {boxes}"
            box, caption = self.wait(*captions, timeout=0.3)
            if box:
                boxes.append((caption, self.text(box, 0xFFFF)))
                self.click(box, 1)
                self.gone(box, timeout=5)
        return boxes
