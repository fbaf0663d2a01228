#!/usr/bin/env python3
"""Checks the tree's layering from its #include lines: no two folders of the product and the
programs include from each other both ways, core/ never includes <windows.h>, and core/text/
and win/ include nothing of Mirelo's."""
import os
import re
import sys

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
AREAS = ["core", "win", "plugin", "programs", "stand_in_engine"]
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def folders():
    """Every folder holding sources, keyed by its path relative to the root."""
    found = {}
    for area in AREAS:
        for dirpath, _, files in os.walk(os.path.join(ROOT, area)):
            sources = [f for f in files if f.endswith((".h", ".cpp"))]
            if sources:
                found[os.path.relpath(dirpath, ROOT)] = sources
    return found


def main():
    found = folders()
    home = {}  # header name -> folder
    for folder, files in found.items():
        for f in files:
            if f.endswith(".h"):
                home.setdefault(f, folder)
    edges = {}
    problems = []
    for folder, files in found.items():
        for f in files:
            text = open(os.path.join(ROOT, folder, f), encoding="utf-8").read()
            for kind, name in INCLUDE.findall(text):
                if kind == "<":
                    if folder.startswith("core") and name.lower() == "windows.h":
                        problems.append(f"{folder}/{f} includes <windows.h>")
                    continue
                target = home.get(os.path.basename(name))
                if target is None or target == folder:
                    continue
                edges.setdefault(folder, set()).add(target)
                if folder in ("core/text", "win"):
                    problems.append(f"{folder}/{f} includes {target}/{name}")
    for a, targets in edges.items():
        for b in targets:
            if a < b and a in edges.get(b, ()):
                problems.append(f"{a} and {b} include from each other")
    for p in problems:
        print(p)
    print(f"{len(found)} folders, {sum(len(t) for t in edges.values())} dependencies, "
          f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
