"""Builders for the files of a game install as the updater reads them:
"Security.Chk", "Version.Txt", "Language.Txt", "ServerList.Txt" and game
files. Shared by the functional tests and the demo."""

from pathlib import Path

CRLF = "\r\n"

# Every text number the program looks up, with a sample English wording.
# Formats take exactly the arguments the program passes.
SAMPLE_TEXTS = {
    51: "The game server does not answer. Please choose another server or try again later.",
    78: "Choose the server you want to play on:",
    79: "Visit the Mirelands site",
    80: "http://www.mirelands.example/",
    81: "Connect through a proxy",
    82: "Pick a server in the list to read about it.",
    85: "No patch server can be reached. Please try again later.",
    94: "The downgrade to version %d could not be applied.",
    183: "Later",
    184: "%s: %.1f %c of %.1f %c",
    # One argument ("Security.Chk") when the list is missing; four when a
    # file has the wrong size: path, path, size found, size line as read.
    187: "Install check: %s [%s] has %u bytes, expected %s",
}


def write_security_chk(directory, entries, end=True, line_end=CRLF):
    """entries: [(path, size)] where size is an int or the raw size text
    (written without a line end of its own when it is a str ending in one)."""
    lines = []
    for path, size in entries:
        lines.append(path + line_end)
        size_text = str(size)
        lines.append(size_text if size_text.endswith("\n") else size_text + line_end)
    if end:
        lines.append("END" + line_end)
    data = "".join(lines).encode("latin-1")
    (Path(directory) / "Security.Chk").write_bytes(data)
    return data


def write_security_chk_for(directory, names):
    """A list that matches the files as they are now."""
    directory = Path(directory)
    return write_security_chk(
        directory, [(n, (directory / n.replace("\\", "/")).stat().st_size) for n in names])


def write_version_txt(directory, version):
    (Path(directory) / "Version.Txt").write_bytes(f"{version}{CRLF}".encode())


def language_lines(texts=None):
    """The lines of a Language.Txt whose N-th counted line is text N: texts
    the program never uses are numbered fillers, and comment and blank lines
    show the reader skips them."""
    texts = dict(SAMPLE_TEXTS if texts is None else texts)
    last = max(texts)
    lines = ["* Mirelands Auto Update - English texts", ""]
    for number in range(1, last + 1):
        if number % 50 == 0:
            lines.append(f"* texts from {number} on")
        lines.append(texts.get(number, f"Unused_text {number}"))
    return lines


def write_language_txt(directory, texts=None):
    data = CRLF.join(language_lines(texts)) + CRLF
    (Path(directory) / "Language.Txt").write_bytes(data.encode("latin-1"))


def write_server_list(directory, servers):
    """servers: [dict(name, address, patch, description, caption, link)]."""
    lines = []
    for s in servers:
        lines += [s["name"], s["address"], s.get("patch", ""), s.get("description", ""),
                  s.get("caption", ""), s.get("link", "")]
    (Path(directory) / "ServerList.Txt").write_bytes((CRLF.join(lines) + CRLF).encode("latin-1"))


SAMPLE_SERVERS = [
    dict(name="Amberlight", address="127.0.0.1:11677", patch="127.0.0.1:11679",
         description="The first shard.", caption="Amberlight forum",
         link="http://amberlight.example/"),
    dict(name="Kite Hollow", address="127.0.0.1", patch="127.0.0.1:11679",
         description="Quiet and friendly.", caption="Kite Hollow news",
         link="http://kitehollow.example/"),
    dict(name="Greywater", address="localhost:11680", patch="localhost:11679",
         description="Player versus player.", caption="Greywater rules",
         link="http://greywater.example/"),
]


def write_game_files(directory, files):
    """files: {relative path: bytes}; folders are created as needed."""
    directory = Path(directory)
    for name, data in files.items():
        path = directory / name.replace("\\", "/")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


SAMPLE_GAME_FILES = {
    "Game.EXE": b"MZ" + bytes(510),
    "Data\\World.dat": bytes(range(256)) * 16,
    "Data\\Sounds.dat": b"RIFF" + bytes(1020),
    "Readme.Txt": b"Welcome to Mirelands.\r\n",
}


def make_sample_install(directory, version=12):
    """A complete install: game files with a matching Security.Chk,
    Version.Txt, Language.Txt and ServerList.Txt."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    write_game_files(directory, SAMPLE_GAME_FILES)
    write_security_chk_for(directory, list(SAMPLE_GAME_FILES))
    write_version_txt(directory, version)
    write_language_txt(directory)
    write_server_list(directory, SAMPLE_SERVERS)
    return directory
