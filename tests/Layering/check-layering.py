#!/usr/bin/env python3
"""The floors of the tree: the engine, vantrel-cli and their tests never use
the windows or Qt.

Three checks, each over everything outside the folders of the windows:
  includes   no #include of a header that lives only under a folder of the
             windows, of a path into one, or of a Qt header;
  links      no library or program links, directly or through the libraries
             it links, a library of the windows or Qt (CMake's link
             interface, written at configure time into targets.txt);
  programs   ldd of every program of the engine lists no Qt library.
Every breach is printed with the file and line, or the chain of links, that
makes it; the exit status is 1 when there is one.
"""
import argparse
import os
import re
import subprocess
import sys

SOURCE_SUFFIXES = (".h", ".hpp", ".hh", ".c", ".cc", ".cpp", ".cxx", ".inc", ".ipp")
HEADER_SUFFIXES = (".h", ".hpp", ".hh", ".inc", ".ipp")
# Never part of the tree's own sources.
SKIPPED_TOP = {".git", ".ci", "cmake", "scripts", "packaging"}
INCLUDE_LINE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
LINK_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_.+-]*(?:::[A-Za-z0-9_.+-]+)*")
GENEX_WORDS = {"LINK_ONLY", "BUILD_INTERFACE", "INSTALL_INTERFACE", "CONFIG", "TARGET_NAME"}
QT_TARGET = re.compile(r"^Qt[0-9]*::|^Qt[0-9]*[A-Z]\w*$")


def is_qt_header(name):
    # <QString>, <QtGlobal>, <QtCore/QString>, <QtWidgets>: Qt's own names
    # have no extension and start with Q; module folders start with Qt.
    first = name.split("/", 1)[0]
    if "/" in name and first.startswith("Qt"):
        return True
    return "/" not in name and "." not in name and re.match(r"^Q[A-Za-z]", name) is not None


def under(rel, folders):
    return any(rel == f or rel.startswith(f + "/") for f in folders)


def walk_sources(root, build_dirs):
    for top in sorted(os.listdir(root)):
        path = os.path.join(root, top)
        if top in SKIPPED_TOP or not os.path.isdir(path):
            continue
        if os.path.abspath(path) in build_dirs or os.path.exists(os.path.join(path, "CMakeCache.txt")):
            continue
        for d, subdirs, files in os.walk(path):
            subdirs[:] = sorted(s for s in subdirs if not os.path.exists(os.path.join(d, s, "CMakeCache.txt")))
            for f in sorted(files):
                if f.endswith(SOURCE_SUFFIXES):
                    full = os.path.join(d, f)
                    yield os.path.relpath(full, root), full


def check_includes(root, ui_folders, build_dirs):
    files = list(walk_sources(root, build_dirs))
    ui_headers, engine_headers = set(), set()
    for rel, _ in files:
        if rel.endswith(HEADER_SUFFIXES):
            (ui_headers if under(rel, ui_folders) else engine_headers).add(os.path.basename(rel))
    # A name found on both sides resolves to the engine's own header.
    ui_only = ui_headers - engine_headers
    breaches, scanned = [], 0
    for rel, full in files:
        if under(rel, ui_folders):
            continue
        scanned += 1
        try:
            with open(full, encoding="utf-8", errors="replace") as f:
                lines = f.readlines()
        except OSError as e:
            breaches.append(f"{rel}: cannot be read: {e}")
            continue
        for number, line in enumerate(lines, 1):
            m = INCLUDE_LINE.match(line)
            if not m:
                continue
            name = m.group(2).strip()
            where = f"{rel}:{number}: #include {m.group(1)}{name}{'>' if m.group(1) == '<' else chr(34)}"
            resolved = os.path.relpath(os.path.normpath(os.path.join(os.path.dirname(full), name)), root)
            if is_qt_header(name):
                breaches.append(f"{where}: a Qt header")
            elif under(resolved, ui_folders) or under(name, ui_folders) or "/UI/" in "/" + name:
                breaches.append(f"{where}: a path into the windows")
            elif os.path.basename(name) in ui_only:
                breaches.append(f"{where}: a header of the windows")
    return breaches, scanned


def read_targets(path):
    targets = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) < 3:
                continue
            name, kind, rel = parts[:3]
            raw = parts[3] if len(parts) > 3 else ""
            # $<LINK_ONLY:X> and other wrappers: the names inside count.
            deps = [t for t in LINK_NAME.findall(raw) if t not in GENEX_WORDS]
            targets[name] = (kind, rel, deps)
    return targets


def check_links(targets, ui_folders):
    ui_targets = {n for n, (_, rel, _) in targets.items() if under(rel, ui_folders)}
    breaches, checked = [], 0
    for name in sorted(targets):
        kind, rel, _ = targets[name]
        if under(rel, ui_folders):
            continue
        checked += 1
        # Breadth-first over the link interface, keeping the way each
        # library was reached.
        seen, queue = {name: None}, [name]
        while queue:
            current = queue.pop(0)
            bad = current != name and (current in ui_targets or QT_TARGET.search(current))
            if bad:
                chain, step = [], current
                while step is not None:
                    chain.append(step)
                    step = seen[step]
                what = "Qt" if QT_TARGET.search(current) else "a library of the windows"
                breaches.append(f"{name} ({rel or '.'}) links {what}: {' -> '.join(reversed(chain))}")
                break
            for dep in targets.get(current, (None, None, []))[2]:
                if dep not in seen:
                    seen[dep] = current
                    queue.append(dep)
    return breaches, checked


def check_programs(executables, targets, ui_folders, built_only):
    breaches, checked = [], 0
    with open(executables, encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    for name, path in rows:
        rel = targets.get(name, (None, "", None))[1]
        if under(rel, ui_folders):
            continue
        if not os.path.exists(path):
            if built_only:
                continue
            breaches.append(f"{name}: {path} is not built, so its libraries cannot be checked")
            continue
        checked += 1
        out = subprocess.run(["ldd", path], capture_output=True, text=True)
        qt = [l.strip().split()[0] for l in out.stdout.splitlines() if "libQt" in l]
        if qt:
            breaches.append(f"{name}: ldd {path} lists {', '.join(qt)}")
    return breaches, checked


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--source", required=True)
    p.add_argument("--ui-folders", required=True, help="folders of the windows, ','-separated, source-relative")
    p.add_argument("--targets", help="targets.txt written at configure time")
    p.add_argument("--executables", help="executables.txt written at generate time")
    p.add_argument("--build", action="append", default=[], help="build folders inside the source to skip")
    args = p.parse_args()

    root = os.path.abspath(args.source)
    ui_folders = [f.strip("/") for f in re.split(r"[,;]", args.ui_folders) if f.strip("/")]
    build_dirs = {os.path.abspath(b) for b in args.build}
    built_only = os.environ.get("VANTREL_LAYERING_BUILT_ONLY") == "1"

    breaches, summary = [], []
    found, scanned = check_includes(root, ui_folders, build_dirs)
    breaches += found
    summary.append(f"{scanned} source files of the engine read")
    if scanned == 0:
        breaches.append("no source file of the engine found: wrong --source?")
    if args.targets:
        targets = read_targets(args.targets)
        found, checked = check_links(targets, ui_folders)
        breaches += found
        summary.append(f"{checked} targets of the engine checked")
        if checked == 0:
            breaches.append(f"no target of the engine in {args.targets}")
        if args.executables:
            found, checked = check_programs(args.executables, targets, ui_folders, built_only)
            breaches += found
            summary.append(f"{checked} programs of the engine checked with ldd")
            if checked == 0:
                breaches.append("no program of the engine to check with ldd")
    for b in breaches:
        print(b)
    print(("FAILED: " if breaches else "ok: ") + "; ".join(summary) +
          (f"; {len(breaches)} breach{'' if len(breaches) == 1 else 'es'} of the floors" if breaches else ""))
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
