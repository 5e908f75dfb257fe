#!/usr/bin/env python3
"""The layering check itself: a scratch tree that keeps the rules passes; each planted include that
breaks one (Qt in a Qt-free folder, an include of a higher folder, a kit that includes the model or
a UI folder, the two middle folders including each other) fails the check, naming file and line.
Usage: check_layering_test.py path/to/check_layering.py"""
import pathlib
import subprocess
import sys
import tempfile

SOUND = {
    "platform/foundation/clock.h": ["<chrono>", '"foundation/decimal.h"'],
    "platform/data/object.h": ['"foundation/clock.h"'],
    "platform/ui/alerts.h": ["<QWidget>", '"foundation/clock.h"', '"data/object.h"'],
    "kits/analytics/tally.h": ['"kits/platform/keystone.h"', '"foundation/clock.h"'],
    "model/timer.h": ['"data/object.h"', '"model/enums.h"', "<string>", "<queue>"],
    "inspectors/pane.h": ['"model/timer.h"', '"ui/alerts.h"', "<QWidget>"],
    "export/writer.h": ['"model/timer.h"'],
    "mainwindow/window.h": ['"inspectors/pane.h"', '"export/writer.h"'],
    "app/main.cpp": ['"mainwindow/window.h"', '"kits/analytics/tally.h"'],
}

PLANTED = [
    ("model/timer.cpp", "<QString>"),
    ("model/timer.cpp", "<qglobal.h>"),
    ("platform/foundation/clock.cpp", "<QtCore/QDateTime>"),
    ("platform/data/object.cpp", "<QObject>"),
    ("kits/crash/blackbox.cpp", "<QCoreApplication>"),
    ("kits/crash/blackbox.cpp", '"model/timer.h"'),
    ("kits/crash/blackbox.cpp", '"ui/alerts.h"'),
    ("platform/foundation/clock.cpp", '"data/object.h"'),
    ("platform/data/object.cpp", '"ui/alerts.h"'),
    ("model/timer.cpp", '"kits/../mainwindow/window.h"'),
    ("model/timer.cpp", '"inspectors/pane.h"'),
    ("inspectors/pane.cpp", '"mainwindow/window.h"'),
    ("inspectors/pane.cpp", '"export/writer.h"'),
    ("export/writer.cpp", '"inspectors/pane.h"'),
    ("mainwindow/window.cpp", '"app/delegate.h"'),
    ("platform/ui/alerts.cpp", '"model/timer.h"'),
]


def write(root, relative, includes):
    path = root / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("// A file of the scratch tree.\n" + "".join(f"#include {i}\n" for i in includes))


def run(check, root):
    result = subprocess.run([sys.executable, check, str(root)], capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


def main():
    check = sys.argv[1]
    failures = []
    for relative, include in [(None, None)] + PLANTED:
        with tempfile.TemporaryDirectory() as scratch:
            root = pathlib.Path(scratch)
            for file, includes in SOUND.items():
                write(root, file, includes)
            if relative is None:
                code, output = run(check, root)
                if code != 0:
                    failures.append(f"a sound tree is reported:\n{output}")
                continue
            write(root, relative, ['"foundation/clock.h"', include])
            code, output = run(check, root)
            if code != 1:
                failures.append(f"{relative} including {include} passes (exit {code}):\n{output}")
            elif f"{relative}:3:" not in output:
                failures.append(f"{relative} including {include}: the report names no file and line:\n{output}")
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
