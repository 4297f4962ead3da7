#!/usr/bin/env python3
"""The demo: a whole update on loopback, headless.

A generated game install at version 1, a chain of patches to the newest
version built with mkpatch, the reference patch server serving them, the
reference game server announcing the newest version and the patch server
(reached through a wire tap that counts the datagrams), and the updater run
in silent mode under Wine. Then a second run, which finds the install up
to date. Each run ends with a summary: the versions before and after, the
files changed, the bytes downloaded, the exit code and its meaning.

Run it through ./demo.sh (which builds first) or, with the native and
windows builds in place, /usr/bin/python3 tools/demo/demo.py.
"""

import hashlib
import os
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

import update_kit  # noqa: E402
import wine_harness  # noqa: E402
import wire_tap  # noqa: E402
from update_kit import KEY, PatchMaker, make_install, point_at_game_server, run_updater  # noqa: E402

DEMO = ROOT / "build" / "demo"
NEWEST = 5
EXIT_MEANINGS = {
    0: "nothing done: another updater or the game client runs, or Security.Chk is missing",
    1: "normal end: the install has the server's version (or a download ended short)",
    232: "already up to date: the installed version is the server's version",
    233: "no patch server could be reached, or the connection failed",
    234: "a patch program was started, a downgrade failed, or the player cancelled",
    240: "the downgrade stopped after five steps",
}


def say(text=""):
    print(text, flush=True)


def template_prefix():
    """A headless prefix made once and kept under build/demo."""
    template = DEMO / "wine-template"
    if not (template / "system.reg").exists():
        say("  (creating a Wine prefix for the demo, once: about 10 s)")
        shutil.rmtree(template, ignore_errors=True)
        wine_harness.make_template_prefix(template)
    return template


def patch_server_exe():
    path = update_kit.native_build_dir() / "tools" / "patch_server" / "patch_server"
    if not path.exists():
        raise FileNotFoundError(f"{path} is missing: build the native preset first")
    return path


class GameServer:
    """The reference game server (native build) on a free loopback port,
    its log lines collected as they come."""

    def __init__(self, version, patch_servers):
        exe = update_kit.native_build_dir() / "tools" / "game_server" / "game_server"
        if not exe.exists():
            raise FileNotFoundError(f"{exe} is missing: build the native preset first")
        args = [str(exe), "--port", "0", "--version", str(version)]
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


def report_wire(tap, game_server):
    datagrams, tap.datagrams = tap.datagrams, []
    questions = sum(1 for _, d, data in datagrams if d == "->" and len(data) > 12)
    say(f"  game link: {len(datagrams)} datagrams, {questions} of them version questions")
    for line in game_server.take_lines():
        say(f"  game server: {line}")


class PatchServer:
    """The reference patch server on a free loopback port, serving a catalogue."""

    def __init__(self, catalogue):
        self.log = open(DEMO / "patch_server.log", "w+")
        self.proc = subprocess.Popen(
            [str(patch_server_exe()), "--catalogue", str(catalogue), "--port", "0",
             "--bind", "127.0.0.1"], stdout=subprocess.PIPE, stderr=self.log, text=True)
        first = self.proc.stdout.readline().strip()
        if not first.startswith("listening on "):
            self.stop()
            raise RuntimeError(f"patch_server did not start: {first!r}")
        # "listening on 127.0.0.1:PORT (N steps)"
        self.port = int(first[len("listening on "):].split()[0].rsplit(":", 1)[1])
        self.lines = []

    def stop(self):
        self.proc.terminate()
        try:
            out, _ = self.proc.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
        self.lines = [line for line in (out or "").splitlines() if line]
        self.log.close()


def digest_tree(directory):
    directory = Path(directory)
    return {p.relative_to(directory).as_posix(): hashlib.sha256(p.read_bytes()).hexdigest()
            for p in sorted(directory.rglob("*")) if p.is_file()}


def build_catalogue(patches, newest):
    """Patch files 1to2.rtp ... and the server's manifest."""
    catalogue = DEMO / "catalogue"
    catalogue.mkdir(parents=True)
    lines = ["# FROM TO FILE"]
    for version in range(1, newest):
        name = f"{version}to{version + 1}.rtp"
        shutil.copy2(patches.patch(version, version + 1), catalogue / name)
        lines.append(f"{version} {version + 1} {name}")
        say(f"  {name:12} {(catalogue / name).stat().st_size:8} bytes  (mkpatch tree{version} "
            f"tree{version + 1})")
    (catalogue / "manifest.txt").write_text("\n".join(lines) + "\n")
    return catalogue


def summary(prefix, install_dir, before_files, before_version, result, boxes):
    after_files = digest_tree(install_dir)
    after_version = prefix.reg_values(KEY).get("Version")
    added = sorted(set(after_files) - set(before_files))
    removed = sorted(set(before_files) - set(after_files))
    changed = sorted(n for n in set(before_files) & set(after_files)
                     if before_files[n] != after_files[n])
    downloaded = [n for n in added + changed if n.endswith(".rtp")]
    added = [n for n in added if n not in downloaded]
    changed = [n for n in changed if n not in downloaded]
    say(f"  version before: {before_version}   after: {after_version}")
    say(f"  game files changed: {len(changed)}, added: {len(added)}, removed: {len(removed)}")
    for label, names in (("changed", changed), ("added", added), ("removed", removed)):
        for name in names:
            say(f"    {label:8} {name}")
    total = sum((install_dir / n).stat().st_size for n in downloaded)
    say(f"  bytes downloaded: {total} in {len(downloaded)} patch file(s)"
        + (f": {', '.join(downloaded)}" if downloaded else ""))
    for caption_text in boxes:
        say(f"  box shown and dismissed: {caption_text}")
    say(f"  exit code {result.returncode}: {EXIT_MEANINGS.get(result.returncode, 'unknown')}")
    return after_files, after_version


def main():
    shutil.rmtree(DEMO / "install", ignore_errors=True)
    shutil.rmtree(DEMO / "prefix", ignore_errors=True)
    shutil.rmtree(DEMO / "catalogue", ignore_errors=True)
    shutil.rmtree(DEMO / "trees", ignore_errors=True)
    DEMO.mkdir(parents=True, exist_ok=True)

    say(f"== Game trees 1 to {NEWEST} and the patch chain, built with mkpatch")
    patches = PatchMaker(DEMO / "trees")
    catalogue = build_catalogue(patches, NEWEST)

    install_dir = make_install(DEMO / "install", 1)
    say(f"\n== Install at version 1 in {install_dir.relative_to(ROOT)}")
    for path in sorted(install_dir.rglob("*")):
        if path.is_file():
            say(f"  {path.relative_to(install_dir).as_posix():24} {path.stat().st_size:8} bytes")

    server = PatchServer(catalogue)
    game = GameServer(NEWEST, [f"127.0.0.1:{server.port}"])
    tap = wire_tap.WireTap(("127.0.0.1", game.port))
    say("\n== Reference servers on loopback")
    say(f"  patch server (tools/patch_server): port {server.port}, catalogue "
        f"{catalogue.relative_to(ROOT)}")
    say(f"  game server (tools/game_server): {game.first_line}; the updater reaches it "
        f"through a wire tap on UDP port {tap.port}")

    prefix = wine_harness.copy_prefix(template_prefix(), DEMO / "prefix")
    # No text editor in a headless demo: the release notes "open" in a
    # small program that notes what it was asked to open.
    opener = DEMO / "opener" / "recorder.exe"
    opener.parent.mkdir(exist_ok=True)
    shutil.copy2(update_kit.recorder_exe(), opener)
    opened = DEMO / "opened.log"
    opened.unlink(missing_ok=True)
    os.environ["MRL_RECORDER_LOG"] = update_kit.windows_path(opened)
    update_kit.register_txt_opener(prefix, opener)
    try:
        point_at_game_server(prefix, tap.port)
        files = digest_tree(install_dir)
        version = 1
        for title in ("Run 1: the updater in silent mode (\"Amber Kite\")",
                      "Run 2: the same install again"):
            say(f"\n== {title}")
            with prefix.robot() as robot:
                result, boxes = run_updater(prefix, robot, install_dir)
            report_wire(tap, game)
            files, version = summary(prefix, install_dir, files, version, result, boxes)
            for line in update_kit.recorded_lines(opened, wait=3 if result.returncode == 1 else 0):
                say(f"  the shell opened: {line.rsplit(chr(92), 1)[-1].strip(chr(34))}")
            opened.unlink(missing_ok=True)
    finally:
        prefix.stop_server()
        tap.close()
        game.stop()
        server.stop()
    say("\n== What the patch server saw")
    for line in server.lines:
        say(f"  {line}")
    same = update_kit.read_tree(install_dir) == update_kit.game_tree(NEWEST)
    say(f"\nThe install {'equals' if same else 'DIFFERS FROM'} the version {NEWEST} tree.")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
