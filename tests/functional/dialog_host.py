"""The dialog host for the functional tests of the dialogs: dialog_host.exe
(tests/windows/dialog_host) opens the server selection dialog or a progress
dialog on its own, with the updater's own dialog code and templates, in a
scratch install directory. The driver's server discovery is what opens these
dialogs in the updater; the host lets the dialogs be driven by the robot
without a game server."""

import subprocess
import time

import wine_harness

SERVERS = [
    # name, address, patch server line, description, link caption, link target
    ("Greymoor", "127.0.0.1:11677", "-", "Greymoor: quiet marshes and long nights.",
     "Greymoor forum", "Greymoor.txt"),
    ("Saltfen", "127.0.0.2", "-", "Saltfen: the newest events first.",
     "Saltfen news", "Saltfen.txt"),
    ("Reedwater", "127.0.0.3:2000", "-", "Reedwater: the role-playing server.",
     "Reedwater rules", "Reedwater.txt"),
]

TEXT_78 = "Game Server"
TEXT_79 = "Visit the web page"
TEXT_80 = "Default.txt"
TEXT_81 = "Choose the game server you play on."
TEXT_82 = "Pick a server to read about it."


def host_exe():
    return wine_harness.build_file("tests/windows/dialog_host/dialog_host.exe")


def make_install(directory, servers=SERVERS):
    """Language.Txt with texts 78..82, and ServerList.Txt unless servers is
    None."""
    lines = ["Text %d" % n for n in range(1, 78)] + [TEXT_78, TEXT_79, TEXT_80, TEXT_81, TEXT_82]
    (directory / "Language.Txt").write_bytes(("\r\n".join(lines) + "\r\n").encode("latin-1"))
    if servers is not None:
        text = "".join("\n".join(record) + "\n" for record in servers)
        (directory / "ServerList.Txt").write_text(text, encoding="latin-1")
    # The documents the link button opens: the shell opens only what exists.
    for name in [TEXT_80] + [record[5] for record in SERVERS]:
        (directory / name).write_text("notes\n")
    return directory


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def register_recorder(wine):
    """Makes the shell's "open" of a .txt file run the host's recorder, which
    appends what it was given to opened.log in its current directory."""
    command = '"%s" record "%%1"' % windows_path(host_exe())
    wine.start_server()
    for key, data in ((r"HKCR\.txt", "txtfile"),
                      (r"HKCR\txtfile\shell\open\command", command)):
        subprocess.run(wine.command("reg", ["add", key, "/ve", "/d", data, "/f"]),
                       env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=60)


def eventually(check, timeout=5.0):
    """Polls check() until it holds; its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def results(stdout):
    """The host's report after each showing: a list of {name: value}."""
    showings, current = [], None
    for line in stdout.splitlines():
        name, _, value = line.partition("=")
        if name == "result":
            current = {}
            showings.append(current)
        if current is not None:
            current[name] = value
    return showings
