"""The picture of the server selection dialog is the one the script draws:
144 x 350 pixels, 8 bits per pixel, 256 colours. Runs without Wine."""
import struct
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PICTURE = ROOT / "src" / "resources" / "server_picture.bmp"


def test_committed_picture_is_what_the_script_draws():
    check = subprocess.run([sys.executable, str(ROOT / "scripts" / "make_bitmap.py"), "--check",
                            str(PICTURE)], capture_output=True, text=True)
    assert check.returncode == 0, check.stdout


def test_picture_format():
    data = PICTURE.read_bytes()
    assert data[:2] == b"BM"
    size, _, _, offset = struct.unpack_from("<IHHI", data, 2)
    assert size == len(data)
    header_size, width, height, planes, bits, compression, _, _, _, colours, _ = \
        struct.unpack_from("<IiiHHIIiiII", data, 14)
    assert (header_size, width, height, planes, bits, compression) == (40, 144, 350, 1, 8, 0)
    assert colours == 256
    assert offset == 14 + 40 + 256 * 4
    assert len(data) - offset == 144 * 350  # rows of 144 bytes need no padding
