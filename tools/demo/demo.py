#!/usr/bin/env python3
"""The demo: a generated game install, the updater run on it under Wine
(headless), every box it shows read and dismissed by the UI robot, and what
happened printed: warnings, registry values, exit code and its meaning.

Run it through ./demo.sh (which builds first) or, with the builds in place,
/usr/bin/python3 tools/demo/demo.py.
"""

import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "functional"))

import install  # noqa: E402
import wine_harness  # noqa: E402

DEMO = ROOT / "build" / "demo"
KEY = r"HKCU\Software\Corvane\MRL"
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


def run_updater(prefix, install_dir, args=()):
    """Runs the updater with the robot pressing OK on every box."""
    with prefix.robot() as robot:
        program = prefix.start(install_dir / "MirelandsUpdate.exe", args, cwd=install_dir)
        try:
            boxes = robot.dismiss_boxes(program, timeout=60)
            return program.wait(), boxes
        finally:
            program.kill()


def report(result, boxes, before, after):
    say(f"  exit code {result.returncode}: {EXIT_MEANINGS.get(result.returncode, 'unknown')}")
    if boxes:
        say(f"  boxes shown and dismissed ({len(boxes)}):")
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


def main():
    exe = wine_harness.updater_exe()
    shutil.rmtree(DEMO / "install", ignore_errors=True)
    shutil.rmtree(DEMO / "prefix", ignore_errors=True)
    DEMO.mkdir(parents=True, exist_ok=True)

    install_dir = install.make_sample_install(DEMO / "install", version=12)
    shutil.copy2(exe, install_dir / "MirelandsUpdate.exe")
    say(f"== Sample install in {install_dir.relative_to(ROOT)}")
    for path in sorted(install_dir.rglob("*")):
        if path.is_file():
            say(f"  {str(path.relative_to(install_dir)):24} {path.stat().st_size:7} bytes")

    prefix = wine_harness.copy_prefix(template_prefix(), DEMO / "prefix")
    try:
        say("\n== Run 1: a sound install, a player who never ran the updater")
        result, boxes = run_updater(prefix, install_dir)
        after = prefix.reg_values(KEY)
        report(result, boxes, None, after)

        say("\n== Run 2: Version.Txt says 13, Data\\World.dat damaged, Data\\Sounds.dat gone")
        install.write_version_txt(install_dir, 13)
        (install_dir / "Data" / "World.dat").write_bytes(b"broken")
        (install_dir / "Data" / "Sounds.dat").unlink()
        before = after
        result, boxes = run_updater(prefix, install_dir)
        after = prefix.reg_values(KEY)
        report(result, boxes, before, after)

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
    say("\nServer discovery and patching come next; the demo grows with them.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
