"""The demo's Wine: one headless prefix made once under build/demo, Windows
programs run in it to their end, registry values set and read back."""

import os
import re
import subprocess
from pathlib import Path

WINE_DIR = "/usr/lib/wine"


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class WinePrefix:
    def __init__(self, path):
        self.path = Path(path)
        self.env = dict(os.environ, PATH=os.environ.get("PATH", "") + ":" + WINE_DIR,
                        WINEPREFIX=str(self.path), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)  # headless: the null display driver
        self.env.pop("WAYLAND_DISPLAY", None)

    def _quiet(self, *args, timeout=120):
        return subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode

    def start(self):
        """Makes the prefix on first use (about 10 s), then starts its server
        detached: a server started by a program of ours would hold our pipes."""
        if not (self.path / "system.reg").exists():
            print("  (creating the demo's Wine prefix, once: about 10 s)", flush=True)
            self.path.mkdir(parents=True, exist_ok=True)
            self._quiet("wine64", "wineboot", "-i", timeout=300)
            self.reg("add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "x11,null", "/f")
            self.reg("add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                     "/t", "REG_DWORD", "/d", "0", "/f")  # a crash ends the program
            self.stop()
        self._quiet("wineserver", "-p")
        self._quiet("wine64", "cmd", "/c", "exit", "0")

    def stop(self):
        """Ends every program of the prefix."""
        self._quiet("wineserver", "-k")
        self._quiet("wineserver", "-w", timeout=30)

    def reg(self, *args):
        """reg.exe with these arguments; its exit code."""
        return self._quiet("wine64", "reg", *args)

    def reg_value(self, key, name):
        """A value as `reg query` shows it (a DWORD as int); None when absent."""
        out = subprocess.run(["wine64", "reg", "query", key, "/v", name], env=self.env,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             errors="replace", timeout=60).stdout
        match = re.search(rf"^\s*{re.escape(name)}\s+(REG_\w+)\s*(.*?)\s*$", out, re.M)
        if not match:
            return None
        kind, data = match.groups()
        return int(data, 16) if kind == "REG_DWORD" else data

    def run(self, exe, args=(), cwd=None, timeout=90):
        """Runs a program to its end: its exit code, or None when it was
        still running after `timeout` seconds (and was stopped)."""
        try:
            return subprocess.run(["wine64", str(exe), *args], env=self.env, cwd=cwd,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            self.stop()
            return None
