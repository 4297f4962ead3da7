"""Running the Windows programs of the build under Wine for the functional
tests and the demo: throwaway prefixes, the updater with its debug output,
registry read-back and the UI robot client.

Nothing here knows the updater's internals: it starts programs, reads what
they leave behind (exit code, registry, files, debugger output) and drives
their windows the way a player would.
"""

import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE_DIR = "/usr/lib/wine"


def windows_build_dir():
    """The Windows build tree: $MRL_WINDOWS_BUILD, else build/windows."""
    return Path(os.environ.get("MRL_WINDOWS_BUILD", ROOT / "build" / "windows"))


def build_file(relative):
    path = windows_build_dir() / relative
    if not path.exists():
        raise FileNotFoundError(
            f"{path} is missing: build the windows preset first "
            "(cmake --preset windows && cmake --build --preset windows)")
    return path


def updater_exe():
    return build_file("src/MirelandsUpdate.exe")


def robot_exe():
    return build_file("tests/robot/robot.exe")


def hold_window_exe():
    return build_file("tests/robot/hold_window.exe")


# ---------------------------------------------------------------- prefixes

def wine_env(prefix, debug="-all"):
    env = dict(os.environ)
    env["PATH"] = env.get("PATH", "") + ":" + WINE_DIR
    env["WINEPREFIX"] = str(prefix)
    env["WINEDEBUG"] = debug
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def _quiet(args, env, timeout=120, cwd=None):
    return subprocess.run(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout).returncode


def make_template_prefix(path):
    """A fresh headless prefix: null display driver, no crash dialog,
    unmanaged windows (caption bars under bare Xvfb). About 5-10 s."""
    path = Path(path)
    path.mkdir(parents=True, exist_ok=True)
    env = wine_env(path)
    _quiet(["wineserver", "-p"], env)
    _quiet(["wine64", "wineboot", "-i"], env, timeout=300)
    for key, name, extra in (
            (r"HKCU\Software\Wine\Drivers", "Graphics", ["/d", "x11,null"]),
            (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", ["/t", "REG_DWORD", "/d", "0"]),
            (r"HKCU\Software\Wine\X11 Driver", "Managed", ["/d", "N"])):
        _quiet(["wine64", "reg", "add", key, "/v", name] + extra + ["/f"], env)
    _quiet(["wineserver", "-k"], env)
    _quiet(["wineserver", "-w"], env)
    return path


class Result:
    """What one finished run of a program left: exit code, its debugger
    output (OutputDebugStringA lines, decoded) and the raw streams."""

    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.debug = parse_debug_output(stderr)

    def __repr__(self):
        return f"Result(rc={self.returncode}, debug={self.debug!r})"


_DEBUGSTR = re.compile(r'^[0-9a-f]+:\w+:debugstr:OutputDebugStringA "(.*)"$')
_ESCAPE = re.compile(r'\\(x[0-9a-fA-F]{1,2}|[0-7]{1,3}|.)')
_SIMPLE = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'",
           "a": "\a", "b": "\b", "f": "\f", "v": "\v"}


def _unescape_c(text):
    def one(match):
        seq = match.group(1)
        if seq[0] == "x":
            return chr(int(seq[1:], 16))
        if seq[0].isdigit():
            return chr(int(seq, 8))
        return _SIMPLE.get(seq, seq)
    return _ESCAPE.sub(one, text)


def parse_debug_output(stderr):
    """OutputDebugStringA texts from a WINEDEBUG=+debugstr stderr, in order.
    Wine cuts texts over 291 characters and ends them with '"...'."""
    lines = []
    for raw in stderr.splitlines():
        cut = raw.endswith('"...')
        match = _DEBUGSTR.match(raw[:-3] if cut else raw)
        if match:
            lines.append(_unescape_c(match.group(1)))
    return lines


class WinePrefix:
    """One throwaway prefix with a wineserver started detached (a server
    started by a program of ours would keep our pipes open)."""

    def __init__(self, path):
        self.path = Path(path)
        self.display = None
        self.env = self.env_for("-all")
        self._server_up = False

    def env_for(self, debug):
        env = wine_env(self.path, debug)
        if self.display:
            env["DISPLAY"] = self.display
        return env

    def use_display(self, display):
        """Shows the windows on an X display (None: headless again). The
        server restarts: Wine picks its display driver when it starts."""
        self.stop_server()
        self.display = display
        self.env = self.env_for("-all")

    # -- server
    def start_server(self):
        if not self._server_up:
            _quiet(["wineserver", "-p"], self.env)
            _quiet(["wine64", "cmd", "/c", "exit", "0"], self.env)
            self._server_up = True

    def stop_server(self):
        """Ends every program of the prefix; afterwards user.reg is current."""
        _quiet(["wineserver", "-k"], self.env)
        _quiet(["wineserver", "-w"], self.env, timeout=30)
        self._server_up = False

    # -- programs
    def command(self, exe, args=()):
        return ["wine64", str(exe)] + [str(a) for a in args]

    def run(self, exe, args=(), cwd=None, timeout=30, debug=True):
        """Runs a program to its end; stderr carries the debugger output."""
        self.start_server()
        env = self.env_for("-all,+debugstr" if debug else "-all")
        with tempfile.TemporaryFile() as err, tempfile.TemporaryFile() as out:
            proc = subprocess.run(self.command(exe, args), env=env, cwd=cwd,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout)
            out.seek(0)
            err.seek(0)
            return Result(proc.returncode, out.read().decode("latin-1"),
                          err.read().decode("latin-1"))

    def start(self, exe, args=(), cwd=None, debug=True):
        """Starts a program in the background (see Background)."""
        self.start_server()
        return Background(self, exe, args, cwd, debug)

    def robot(self):
        self.start_server()
        return Robot(self)

    # -- registry
    def reg_add(self, key, name, value):
        """Sets a value with reg.exe: an int as REG_DWORD, else REG_SZ."""
        self.start_server()
        if isinstance(value, int):
            extra = ["/t", "REG_DWORD", "/d", str(value)]
        else:
            extra = ["/t", "REG_SZ", "/d", value]
        rc = _quiet(["wine64", "reg", "add", key, "/v", name] + extra + ["/f"], self.env)
        assert rc == 0, f"reg add {key} {name} failed"

    def reg_values(self, key):
        """Every value of a key under HKEY_CURRENT_USER, read from user.reg
        after the server has written it: {name: value} with dword values as
        int, string values as str, binary as bytes. None when the key does
        not exist."""
        self.stop_server()
        return read_user_reg(self.path / "user.reg", key)


class Background:
    """A program running while the test drives it; stderr goes to a file so
    that nothing blocks on a full pipe."""

    def __init__(self, prefix, exe, args, cwd, debug):
        env = prefix.env_for("-all,+debugstr" if debug else "-all")
        self._err = tempfile.TemporaryFile()
        self._out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(prefix.command(exe, args), env=env, cwd=cwd,
                                     stdin=subprocess.DEVNULL, stdout=self._out,
                                     stderr=self._err)

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=30):
        """Waits for the end; returns the Result."""
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise
        self._out.seek(0)
        self._err.seek(0)
        result = Result(rc, self._out.read().decode("latin-1"),
                        self._err.read().decode("latin-1"))
        self._out.close()
        self._err.close()
        return result

    def kill(self):
        if self.running():
            self.proc.kill()
            self.proc.wait()


# ---------------------------------------------------------------- registry file

_SECTION = re.compile(r"^\[(.*)\](?: \d+)?$")
_VALUE = re.compile(r'^("(?:[^"\\]|\\.)*"|@)=(.*)$')


def _reg_string(quoted):
    body = quoted[1:-1]
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            n = body[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", body[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def _reg_data(text):
    if text.startswith('"'):
        return _reg_string(text)
    if text.startswith("dword:"):
        return int(text[6:], 16)
    if text.startswith("str(2):") or text.startswith("str(7):"):
        return _reg_string(text[7:])
    match = re.match(r"hex(?:\((\w+)\))?:(.*)$", text)
    if match:
        data = bytes(int(b, 16) for b in match.group(2).split(",") if b)
        kind = int(match.group(1), 16) if match.group(1) else 3
        if kind in (1, 2):
            return data.decode("utf-16-le").rstrip("\0")
        if kind == 4 and len(data) == 4:
            return int.from_bytes(data, "little")
        return data
    return text


def read_user_reg(path, key):
    wanted = key.lower().replace("hkcu\\", "").replace("hkey_current_user\\", "")
    values, inside = None, False
    pending = ""
    for raw in Path(path).read_text(encoding="latin-1").splitlines():
        line = pending + raw
        if line.endswith("\\") and not line.endswith("\\\\"):
            pending = line[:-1].strip() if pending else line[:-1]
            continue
        pending = ""
        section = _SECTION.match(line)
        if section:
            name = section.group(1).replace("\\\\", "\\").lower()
            inside = name == wanted
            if inside:
                values = {}
            continue
        if not inside:
            continue
        match = _VALUE.match(line)
        if match:
            name = None if match.group(1) == "@" else _reg_string(match.group(1))
            values[name] = _reg_data(match.group(2).strip())
    return values


# ---------------------------------------------------------------- the robot

def _escape(text):
    out = []
    for ch in text:
        c = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif c < 32 or c > 126:
            out.append("\\x%02x" % (c & 0xFF))
        else:
            out.append(ch)
    return "".join(out)


def _unescape(text):
    return _unescape_c(text)


class RobotError(Exception):
    pass


class Control:
    def __init__(self, fields):
        self.id = int(fields[0])
        self.cls = fields[1]
        self.text = fields[2]
        self.enabled = fields[3] == "1"
        self.visible = fields[4] == "1"
        self.checked = int(fields[5])  # -1 when not a button
        self.hwnd = fields[6]

    def __repr__(self):
        return f"Control({self.id}, {self.cls!r}, {self.text!r}, enabled={self.enabled})"


class Robot:
    """Client of robot.exe (tests/robot): finds windows of the program under
    test and works their controls over the robot's line protocol."""

    def __init__(self, prefix):
        self._proc = subprocess.Popen(prefix.command(robot_exe()), env=prefix.env,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL, text=True,
                                      encoding="latin-1", bufsize=1)

    def close(self):
        if self._proc.poll() is None:
            try:
                self._request("quit")
                self._proc.wait(timeout=5)
            except Exception:
                self._proc.kill()
                self._proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _line(self):
        line = self._proc.stdout.readline()
        if not line:
            raise RobotError("the robot ended")
        return [_unescape(f) for f in line.rstrip("\n").split("\t")]

    def _request(self, *fields, allow_error=False):
        self._proc.stdin.write("\t".join(_escape(str(f)) for f in fields) + "\n")
        self._proc.stdin.flush()
        reply = self._line()
        if reply[0] != "ok":
            if allow_error:
                return None
            raise RobotError(f"{fields[0]}: {reply[1] if len(reply) > 1 else reply}")
        return reply[1:]

    # -- windows
    def wait_window(self, caption="", cls="#32770", timeout=10.0):
        """The first visible and enabled top-level window with that class and
        caption (empty: any); None after the time-out."""
        reply = self._request("wait", int(timeout * 1000), cls, caption, allow_error=True)
        return reply[0] if reply else None

    def find(self, cls="", caption=""):
        reply = self._request("find", cls, caption, allow_error=True)
        return reply[0] if reply else None

    def windows(self):
        count = int(self._request("windows")[0])
        return [self._line() for _ in range(count)]

    def caption(self, hwnd):
        cls, text = self._request("caption", hwnd)
        return cls, text

    def owner(self, hwnd):
        """(hwnd, class, text) of the window's owner; hwnd "0" when none."""
        return tuple(self._request("owner", hwnd))

    def screen(self):
        return tuple(int(v) for v in self._request("screen"))

    def controls(self, hwnd):
        count = int(self._request("controls", hwnd)[0])
        return [Control(self._line()) for _ in range(count)]

    def control(self, hwnd, control_id):
        for c in self.controls(hwnd):
            if c.id == control_id:
                return c
        return None

    def text(self, hwnd, control_id):
        return self._request("text", hwnd, control_id)[0]

    def combo(self, hwnd, control_id):
        """(current text, [list items]) of a combo box."""
        reply = self._request("combo", hwnd, control_id)
        return reply[0], reply[1:]

    def type(self, hwnd, control_id, text):
        self._request("type", hwnd, control_id, text)

    def set_text(self, hwnd, control_id, text):
        self._request("settext", hwnd, control_id, text)

    def click(self, hwnd, control_id):
        """Presses a button; False when it is disabled (nothing pressed)."""
        reply = self._request("click", hwnd, control_id, allow_error=True)
        return reply is not None

    def escape(self, hwnd):
        self._request("escape", hwnd)

    def close_box(self, hwnd):
        """The title bar's close box."""
        self._request("close", hwnd)

    def wm_close(self, hwnd):
        self._request("wmclose", hwnd)

    def rect(self, hwnd):
        return tuple(int(v) for v in self._request("rect", hwnd))

    def state(self, hwnd):
        """(exists, visible, enabled)."""
        return tuple(v == "1" for v in self._request("state", hwnd))

    def exists(self, hwnd):
        return self.state(hwnd)[0]

    def wait_gone(self, hwnd, timeout=10.0):
        return self._request("gone", int(timeout * 1000), hwnd, allow_error=True) is not None

    def x11_id(self, hwnd):
        """The X11 window id for `import -window` (0 without a display)."""
        return int(self._request("xid", hwnd)[0])

    # -- message boxes
    def read_box(self, hwnd):
        """(caption, text) of a message box."""
        return self.caption(hwnd)[1], self.text(hwnd, 0xFFFF)

    def dismiss_boxes(self, program, caption="", timeout=30.0, poll=0.3,
                      ignore=("Mirelands Auto Patch",)):
        """Reads and presses OK on every message box the program shows until
        it ends; returns [(caption, text)] in the order shown. Dialogs whose
        caption is in `ignore` (the progress dialogs) are left alone."""
        seen = []
        deadline = time.monotonic() + timeout
        while program.running():
            if time.monotonic() > deadline:
                raise RobotError(f"program still running after {timeout} s; boxes: {seen}")
            box = self.wait_window(caption=caption, timeout=poll)
            if box is None:
                continue
            if self.caption(box)[1] in ignore:
                time.sleep(poll)
                continue
            seen.append(self.read_box(box))
            self.click(box, 1)
            self.wait_gone(box, timeout=5)
        return seen


# The system DLL folders: over a gigabyte once the 32-bit part of Wine is
# installed, and never written by a program run in a test prefix.
_SHARED_DIRS = ("drive_c/windows/system32", "drive_c/windows/syswow64",
                "drive_c/windows/winsxs")


def copy_prefix(template, target):
    """A private copy of the template prefix. The system DLL folders are hard
    links to the template's (copying them took seconds per test); everything
    else, the .reg files the server rewrites in place first, is copied."""
    template, target = Path(template), Path(target)
    shared = [d for d in _SHARED_DIRS if (template / d).is_dir()]

    def copy_tree(source, dest):
        dest.mkdir(parents=True, exist_ok=True)
        for entry in source.iterdir():
            rel = entry.relative_to(template).as_posix()
            if rel in shared:
                subprocess.run(["cp", "-al", str(entry), str(dest / entry.name)], check=True)
            elif entry.is_dir() and not entry.is_symlink() and any(
                    d.startswith(rel + "/") for d in shared):
                copy_tree(entry, dest / entry.name)
            else:
                subprocess.run(["cp", "-a", str(entry), str(dest / entry.name)], check=True)

    if not shared:
        subprocess.run(["cp", "-a", str(template), str(target)], check=True)
    else:
        copy_tree(template, target)
    return WinePrefix(target)


def remove_prefix(prefix):
    prefix.stop_server()
    shutil.rmtree(prefix.path, ignore_errors=True)


# ---------------------------------------------------------------- screenshots

class Xvfb:
    """A private X server for tests that take screenshots. Use with
    WinePrefix.use_display(xvfb.display); the suite itself runs headless."""

    def __init__(self, size="800x600x24"):
        self.size = size
        self.display = None
        self._proc = None

    def __enter__(self):
        for number in range(90, 140):
            if Path(f"/tmp/.X11-unix/X{number}").exists() or Path(f"/tmp/.X{number}-lock").exists():
                continue
            self._proc = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", self.size,
                                           "-nolisten", "tcp"],
                                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
            for _ in range(100):
                if Path(f"/tmp/.X11-unix/X{number}").exists():
                    self.display = f":{number}"
                    return self
                if self._proc.poll() is not None:
                    break
                time.sleep(0.05)
            self._proc.kill()
            self._proc.wait()
        raise RuntimeError("no X display could be started")

    def __exit__(self, *exc):
        if self._proc:
            self._proc.terminate()
            self._proc.wait()

    def screenshot(self, path, window_id=0):
        """Saves the screen (or one X11 window, see Robot.x11_id) as PNG."""
        target = hex(window_id) if window_id else "root"
        subprocess.run(["import", "-display", self.display, "-window", target, str(path)],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        return Path(path)

