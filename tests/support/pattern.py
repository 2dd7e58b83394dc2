"""The deterministic test body shared by the servers and the test programs: byte i is i mod 251.

A prime period keeps pieces of 64 KiB, ranges and segment boundaries from lining up with it, so a
piece delivered at the wrong offset shows."""
import os

PERIOD = 251
_CYCLE = bytes(range(PERIOD))


def pattern(offset, length):
    """Bytes [offset, offset + length) of the pattern."""
    if length <= 0:
        return b""
    start = offset % PERIOD
    reps = (start + length) // PERIOD + 1
    return (_CYCLE * reps)[start:start + length]


def write_pattern_file(path, size, chunk=1 << 22):
    """Writes the first `size` pattern bytes to `path` (skipped when it already has that size)."""
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        done = 0
        while done < size:
            n = min(chunk, size - done)
            f.write(pattern(done, n))
            done += n
    os.replace(tmp, path)
