#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Helper of scripts/mutants: reads a list of seeded faults, applies one of them, and answers the
questions about the build tree that decide which tests judge a mutant.

  mutantlist.py check LIST ROOT [IDS]    one line per entry: id, OK|ERROR, file, reason
  mutantlist.py apply LIST ID ROOT       replaces the entry's text in ROOT/file (exactly once)
  mutantlist.py fault LIST ID            the entry's fault text
  mutantlist.py tests BUILD              one line per test: name, path of its executable
  mutantlist.py users ROOT               one line per add_dependencies pair under ROOT/tests:
                                         test, executable target it runs

The list format is described at the top of tests/mutants.txt. Exit status 2 means the list itself
is malformed (unknown or missing field, duplicate id, an unknown id asked for).
"""

import json
import os
import re
import subprocess
import sys

FIELDS = ("id", "file", "find", "replace", "fault")
# Faults are seeded in the product only.
NOT_PRODUCT = ("tests/", "fuzz/", "bench/")


class ListError(Exception):
    pass


def unescape(text):
    r"""`\n` is a line break and `\\` a backslash; any other backslash stays as it is."""
    out = []
    i = 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "n\\":
            out.append("\n" if text[i + 1] == "n" else "\\")
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def parse(path):
    """The entries of a list, in order, as dicts of the five fields (find/replace unescaped)."""
    entries = []
    block = {}
    block_line = 0

    def close():
        nonlocal block
        if not block:
            return
        missing = [f for f in FIELDS if f not in block]
        if missing:
            raise ListError(f"{path}:{block_line}: entry lacks {', '.join(missing)}")
        entries.append(block)
        block = {}

    with open(path, encoding="utf-8") as handle:
        for number, raw in enumerate(handle, 1):
            line = raw.rstrip("\n")
            if line.startswith("#"):
                continue
            if not line.strip():
                close()
                continue
            match = re.match(r"^([a-z]+):( ?)(.*)$", line)
            if not match or match.group(1) not in FIELDS:
                raise ListError(f"{path}:{number}: not a field line: {line!r}")
            key, value = match.group(1), match.group(3)
            if not block:
                block_line = number
            if key in block:
                raise ListError(f"{path}:{number}: field {key} given twice in one entry")
            block[key] = unescape(value) if key in ("find", "replace") else value.strip()
    close()

    seen = set()
    for entry in entries:
        if not re.fullmatch(r"[A-Za-z0-9_.-]+", entry["id"]):
            raise ListError(f"{path}: id {entry['id']!r} may hold letters, digits, '.', '_', '-'")
        if entry["id"] in seen:
            raise ListError(f"{path}: id {entry['id']} used twice")
        seen.add(entry["id"])
        if not entry["find"]:
            raise ListError(f"{path}: entry {entry['id']} has an empty find text")
        if entry["find"] == entry["replace"]:
            raise ListError(f"{path}: entry {entry['id']} replaces its text by the same text")
    return entries


def select(entries, ids):
    if not ids:
        return entries
    wanted = [i for i in ids.split(",") if i]
    known = {e["id"]: e for e in entries}
    unknown = [i for i in wanted if i not in known]
    if unknown:
        raise ListError(f"unknown id(s): {', '.join(unknown)}")
    return [known[i] for i in wanted]


def problem(entry, root):
    """Why the entry cannot be applied to the tree at root, or None."""
    name = entry["file"]
    if name.startswith("/") or ".." in name.split("/"):
        return "file must be a path inside the tree"
    if name.startswith(NOT_PRODUCT):
        return "file is not product code (tests/, fuzz/ and bench/ are not mutated)"
    path = os.path.join(root, name)
    if not os.path.isfile(path):
        return "file not found"
    with open(path, encoding="utf-8") as handle:
        count = handle.read().count(entry["find"])
    if count != 1:
        return f"find text occurs {count} times (must be exactly once)"
    return None


def cmd_check(args):
    path, root = args[0], args[1]
    entries = select(parse(path), args[2] if len(args) > 2 else "")
    bad = 0
    for entry in entries:
        why = problem(entry, root)
        bad += why is not None
        print(f"{entry['id']}\t{'ERROR' if why else 'OK'}\t{entry['file']}\t{why or ''}")
    return 1 if bad else 0


def cmd_apply(args):
    path, wanted, root = args
    entry = select(parse(path), wanted)[0]
    why = problem(entry, root)
    if why:
        print(why, file=sys.stderr)
        return 1
    target = os.path.join(root, entry["file"])
    with open(target, encoding="utf-8") as handle:
        text = handle.read()
    with open(target, "w", encoding="utf-8") as handle:
        handle.write(text.replace(entry["find"], entry["replace"], 1))
    return 0


def cmd_fault(args):
    path, wanted = args
    print(select(parse(path), wanted)[0]["fault"])
    return 0


def cmd_tests(args):
    build = args[0]
    shown = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                           capture_output=True, text=True).stdout
    for test in json.loads(shown).get("tests", []):
        command = test.get("command") or []
        if command:
            print(f"{test['name']}\t{command[0]}")
    return 0


def cmd_users(args):
    root = os.path.join(args[0], "tests")
    pattern = re.compile(r"add_dependencies\s*\(\s*([^\s)]+)([^)]*)\)")
    for folder, _, files in sorted(os.walk(root)):
        for name in sorted(files):
            if name != "CMakeLists.txt":
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as handle:
                # CMake comments run from '#' to the end of the line.
                text = "\n".join(line.split("#", 1)[0] for line in handle)
            for match in pattern.finditer(text):
                for target in match.group(2).split():
                    print(f"{match.group(1)}\t{target}")
    return 0


COMMANDS = {
    "check": (cmd_check, (2, 3)),
    "apply": (cmd_apply, (3,)),
    "fault": (cmd_fault, (2,)),
    "tests": (cmd_tests, (1,)),
    "users": (cmd_users, (1,)),
}


def main(argv):
    if len(argv) < 2 or argv[1] not in COMMANDS or len(argv) - 2 not in COMMANDS[argv[1]][1]:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        return COMMANDS[argv[1]][0](argv[2:])
    except ListError as error:
        print(f"mutants: list error: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
