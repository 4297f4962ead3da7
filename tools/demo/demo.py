#!/usr/bin/env python3
"""The demo: a generated game install, the reference game server on
loopback, the updater run on it under Wine (headless), every box and dialog
it shows read and answered by the UI robot, and what happened printed:
warnings, the version question and its answer as they travel, the game
server's log, registry values, exit code and its meaning.

Run it through ./demo.sh (which builds first) or, with the builds in place,
/usr/bin/python3 tools/demo/demo.py.
"""

import re
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "functional"))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import install  # noqa: E402
import wine_harness  # noqa: E402
import wire_tap  # noqa: E402

DEMO = ROOT / "build" / "demo"
KEY = r"HKCU\Software\Corvane\MRL"
GAME_SERVER = ROOT / "build" / "native" / "tools" / "game_server" / "game_server"
SILENT = ("Amber", "Kite")
SERVER_DIALOG = "Mirelands"
CONNECT, COMBO = 1, 1009
EXIT_MEANINGS = {
    0: "nothing done: another updater or the game client is running, or Security.Chk is missing",
    1: "normal end: install checked, settings in place, installed version recorded",
    232: "the installed version is the server's version",
    233: "no patch server could be reached",
    234: "a patch program was started, a downgrade failed, or the player cancelled",
    240: "the downgrade made five steps",
}


def say(text=""):
    print(text, flush=True)


def show_text(text):
    return text.replace("\r", "\\r").replace("\n", "\\n")


def show_value(value):
    return f'"{show_text(value)}"' if isinstance(value, str) else repr(value)


def template_prefix():
    """A headless prefix made once and kept under build/demo."""
    template = DEMO / "wine-template"
    if not (template / "system.reg").exists():
        say("  (creating a Wine prefix for the demo, once: about 10 s)")
        shutil.rmtree(template, ignore_errors=True)
        wine_harness.make_template_prefix(template)
    return template


class GameServer:
    """The reference game server (native build) on a free loopback port,
    its log lines collected as they come."""

    def __init__(self, version, patch_servers):
        if not GAME_SERVER.exists():
            raise FileNotFoundError(f"{GAME_SERVER} is missing: build the native preset first")
        args = [str(GAME_SERVER), "--port", "0", "--version", str(version)]
        for server in patch_servers:
            args += ["--patch-server", server]
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     text=True)
        self.first_line = self.proc.stdout.readline().strip()
        self.port = int(re.match(r"listening on [\d.]+:(\d+)", self.first_line).group(1))
        self.lines = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))

    def take_lines(self, settle=0.3):
        time.sleep(settle)
        lines, self.lines = self.lines, []
        return lines

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def answer_windows(robot, program, timeout=60):
    """Until the program ends: presses Connect in the server selection
    dialog (keeping the server it offers) and OK in every message box.
    The searching dialog is left alone. Returns what was shown, in order."""
    shown = []
    deadline = time.monotonic() + timeout
    while program.running():
        if time.monotonic() > deadline:
            raise RuntimeError(f"the updater still runs after {timeout} s; shown: {shown}")
        dialog = robot.wait_window(caption=SERVER_DIALOG, timeout=0.2)
        if dialog is not None:
            chosen, listed = robot.combo(dialog, COMBO)
            shown.append((SERVER_DIALOG, f"server selection: {listed}, offered {chosen!r}, "
                                         "Connect pressed"))
            robot.click(dialog, CONNECT)
            robot.wait_gone(dialog, timeout=5)
            continue
        for caption in ("Warning", "Error Message"):
            box = robot.wait_window(caption=caption, timeout=0.1)
            if box is not None:
                shown.append(robot.read_box(box))
                robot.click(box, 1)
                robot.wait_gone(box, timeout=5)
    return shown


def run_updater(prefix, install_dir, args=()):
    """Runs the updater with the robot answering its boxes and dialogs."""
    with prefix.robot() as robot:
        program = prefix.start(install_dir / "MirelandsUpdate.exe", args, cwd=install_dir)
        try:
            shown = answer_windows(robot, program)
            return program.wait(), shown
        finally:
            program.kill()


def report_wire(tap, game_server, show_datagrams):
    """The datagrams between the updater and the game server, then the
    game server's log lines of the run."""
    lines = game_server.take_lines()
    datagrams, tap.datagrams = tap.datagrams, []
    if show_datagrams:
        say(f"  on the wire ({len(datagrams)} datagrams):")
        for _, direction, data in datagrams:
            for line in wire_tap.describe(direction, data):
                say(f"    {line}")
    elif datagrams:
        requests = sum(1 for _, d, data in datagrams if d == "->" and len(data) > 12)
        say(f"  on the wire: {len(datagrams)} datagrams, {requests} of them version questions")
    for line in lines:
        say(f"  game server: {line}")


def report(result, boxes, before, after):
    say(f"  exit code {result.returncode}: {EXIT_MEANINGS.get(result.returncode, 'unknown')}")
    if boxes:
        say(f"  boxes and dialogs shown and answered ({len(boxes)}):")
        for caption, text in boxes:
            say(f"    [{caption}] {show_text(text)}")
    else:
        say("  boxes shown: none")
    for line in result.debug:
        say(f"  debug output: {show_text(line)}")
    report_registry(before, after)


def report_registry(before, after):
    if after is None:
        say(f"  registry: {KEY} does not exist")
        return
    before = before or {}
    written = {n: v for n, v in after.items() if before.get(n, object()) != v}
    if not before:
        macros = [n for n in after if n.startswith("Macro")]
        say(f"  registry: {KEY} created with {len(after)} values")
        for name, value in after.items():
            if not name.startswith("Macro"):
                say(f"    {name} = {show_value(value)}")
        if macros:
            values = sorted({after[n] for n in macros})
            say(f"    {len(macros)} macro values Macro1:1a ... Macro12:12b = {values}")
    elif written:
        say("  registry values changed: " +
            ", ".join(f"{n}: {show_value(before.get(n))} -> {show_value(v)}"
                      for n, v in written.items()))
    else:
        say("  registry: nothing changed")


def demo_servers(port):
    """The sample server list with every game server at the wire tap, so
    whichever the player keeps reaches the reference game server."""
    return [dict(server, address=f"127.0.0.1:{port}") for server in install.SAMPLE_SERVERS]


def main():
    exe = wine_harness.updater_exe()
    shutil.rmtree(DEMO / "install", ignore_errors=True)
    shutil.rmtree(DEMO / "prefix", ignore_errors=True)
    DEMO.mkdir(parents=True, exist_ok=True)

    game_server = GameServer(12, ["127.0.0.1:11679"])
    tap = wire_tap.WireTap(("127.0.0.1", game_server.port))
    say("== Reference game server (tools/game_server)")
    say(f"  {game_server.first_line}")
    say(f"  the updater reaches it through a wire tap on 127.0.0.1:{tap.port}, which shows "
        "every datagram")

    install_dir = install.make_sample_install(DEMO / "install", version=12)
    install.write_server_list(install_dir, demo_servers(tap.port))
    shutil.copy2(exe, install_dir / "MirelandsUpdate.exe")
    say(f"== Sample install in {install_dir.relative_to(ROOT)}")
    for path in sorted(install_dir.rglob("*")):
        if path.is_file():
            say(f"  {str(path.relative_to(install_dir)):24} {path.stat().st_size:7} bytes")

    prefix = wine_harness.copy_prefix(template_prefix(), DEMO / "prefix")
    try:
        say("\n== Run 1: a sound install at version 12, a player who never ran the updater;"
            "\n   the game server says 12 is current")
        result, boxes = run_updater(prefix, install_dir)
        after = prefix.reg_values(KEY)
        report(result, boxes, None, after)
        report_wire(tap, game_server, show_datagrams=True)

        say("\n== Run 2: Data\\World.dat damaged, Data\\Sounds.dat gone; silent mode"
            " (\"Amber Kite\"): no dialog")
        (install_dir / "Data" / "World.dat").write_bytes(b"broken")
        (install_dir / "Data" / "Sounds.dat").unlink()
        before = after
        result, boxes = run_updater(prefix, install_dir, SILENT)
        after = prefix.reg_values(KEY)
        report(result, boxes, before, after)
        report_wire(tap, game_server, show_datagrams=False)

        say("\n== Run 3: the game client is running (a window of class \"AppClass\")")
        prefix.start_server()
        holder = subprocess.Popen(prefix.command(wine_harness.hold_window_exe(), ["AppClass"]),
                                  env=prefix.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            holder.stdout.readline()
            before = after
            result, boxes = run_updater(prefix, install_dir)
        finally:
            holder.kill()
            holder.wait()
        after = prefix.reg_values(KEY)
        report(result, boxes, before, after)

        say("\n== Run 4: Security.Chk is missing")
        (install_dir / "Security.Chk").unlink()
        before = after
        result, boxes = run_updater(prefix, install_dir)
        after = prefix.reg_values(KEY)
        report(result, boxes, before, after)
    finally:
        prefix.stop_server()
        tap.close()
        game_server.stop()
    say("\nPatching comes next; the demo grows with it.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
