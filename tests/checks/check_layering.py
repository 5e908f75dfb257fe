#!/usr/bin/env python3
"""Checks the include layering of the source folders: arrows point down only (platform <- kits <- model
<- inspectors/export <- mainwindow <- app), no Qt under model/, kits/, platform/foundation and
platform/data, and the kits include neither the model nor any UI folder. Prints one line per
violation (file:line: why) and exits 1 when there is any.
Usage: check_layering.py source-root"""
import pathlib
import posixpath
import re
import sys

# Folder -> level; a folder may include its own files and folders of a lower level. Every folder
# under platform/ and kits/ takes the level of its group.
LEVELS = {"platform": 0, "kits": 1, "model": 2, "inspectors": 3, "export": 3, "mainwindow": 4, "app": 5}
GROUPS = ("platform", "kits")
# Include prefixes of the platform folders (platform/ itself is on the include path).
PLATFORM_PREFIXES = {"foundation", "data", "ui", "system", "net"}
QT_FREE = ("model", "kits/", "platform/foundation", "platform/data")
UI_FOLDERS = {"platform/ui", "inspectors", "export", "mainwindow", "app"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Q[A-Za-z]|Qt|q[a-z0-9_]+\.h$)")


def level(folder):
    return LEVELS[folder.split("/")[0]]


def folder_of_file(relative):
    parts = relative.parts
    if len(parts) >= 3 and parts[0] in GROUPS:
        return parts[0] + "/" + parts[1]
    if len(parts) >= 2 and parts[0] in LEVELS and parts[0] not in GROUPS:
        return parts[0]
    return None


def folder_of_include(path):
    parts = posixpath.normpath(path).split("/")
    if len(parts) < 2:
        return None  # a file of the same folder
    if parts[0] in PLATFORM_PREFIXES:
        return "platform/" + parts[0]
    if parts[0] in GROUPS:
        return parts[0] + "/" + parts[1] if len(parts) > 2 else None
    return parts[0] if parts[0] in LEVELS else None


def allowed(source, target):
    if source == target:
        return True
    group = source.split("/")[0]
    if group in GROUPS and target.split("/")[0] == group:
        # Inside a group: everything may use the foundation and the kit platform; the foundation
        # itself stands on nothing of ours.
        return source != "platform/foundation" and (group == "kits" or target == "platform/foundation"
                                                     or (source == "platform/ui" and target == "platform/data"))
    return level(target) < level(source)


def violations(root):
    found = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        relative = path.relative_to(root)
        source = folder_of_file(relative)
        if source is None:
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            bracket, included = match.groups()
            where = f"{relative.as_posix()}:{number}"
            if bracket == "<":
                if source.startswith(QT_FREE) and QT_HEADER.match(included):
                    found.append(f"{where}: {source} never includes Qt (<{included}>)")
                continue
            target = folder_of_include(included)
            if target is None:
                continue
            if source.startswith("kits/") and (target == "model" or target in UI_FOLDERS):
                found.append(f"{where}: the kits never include {target}/ (\"{included}\")")
            elif not allowed(source, target):
                found.append(f"{where}: {source} may not include {target}/, which is not below it (\"{included}\")")
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__.splitlines()[-1])
        return 2
    root = pathlib.Path(sys.argv[1])
    found = violations(root)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) break the layering")
        return 1
    print("layering holds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
