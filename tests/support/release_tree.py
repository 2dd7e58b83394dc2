"""A game folder as its files, for comparing an updated folder with the release it came from."""
import os


def game_files(folder):
    """(relative path, full path) of every file outside the work folder."""
    for base, _, names in os.walk(folder):
        rel_base = os.path.relpath(base, folder)
        if rel_base == "temp" or rel_base.startswith("temp" + os.sep):
            continue
        for n in names:
            yield os.path.normpath(os.path.join(rel_base, n)), os.path.join(base, n)


def tree(folder):
    """Relative path -> bytes of every file outside the work folder."""
    result = {}
    for rel, full in game_files(folder):
        with open(full, "rb") as f:
            result[rel] = f.read()
    return result


def same_tree(a, b):
    """None when both folders hold the same files, else what differs."""
    ta, tb = tree(a), tree(b)
    if ta.keys() != tb.keys():
        return f"files differ: {sorted(ta.keys() ^ tb.keys())}"
    bad = [k for k in ta if ta[k] != tb[k]]
    return f"contents differ: {bad}" if bad else None
