#!/usr/bin/env python3
"""Fails when a folder of src/core includes a folder of a higher layer (see src/core/README.md).

    scripts/check_core_layers.py [REPO_ROOT]
"""
import os
import re
import sys

# Lowest first; folders on one line are siblings and include neither each other.
LAYERS = [
    ["wire"],
    ["model"],
    ["system"],
    ["config"],
    ["store", "rules"],
    ["engine"],
    ["actions"],
    ["presentation"],
]
# Allowed by the order but kept apart all the same: the engine reaches the store only
# through the store interface in model/.
FORBIDDEN = {("engine", "store")}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]+"', re.M)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    core = os.path.join(root, "src", "core")
    rank = {folder: i for i, layer in enumerate(LAYERS) for folder in layer}
    problems = []
    for folder in sorted(os.listdir(core)):
        path = os.path.join(core, folder)
        if not os.path.isdir(path):
            continue
        if folder not in rank:
            problems.append(f"src/core/{folder}: a folder without a layer; add it to {__file__}")
            continue
        for dirpath, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                file = os.path.join(dirpath, name)
                with open(file, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for line_no, target in ((text.count("\n", 0, m.start()) + 1, m.group(1))
                                        for m in INCLUDE.finditer(text)):
                    if target == folder or target not in rank:
                        continue
                    if rank[target] >= rank[folder] or (folder, target) in FORBIDDEN:
                        rel = os.path.relpath(file, root)
                        problems.append(f"{rel}:{line_no}: {folder}/ includes {target}/")
    for p in problems:
        print(p)
    if problems:
        print("layer order, lowest first: " + " < ".join("/".join(l) for l in LAYERS))
        return 1
    print("src/core: no folder includes a higher one")
    return 0


if __name__ == "__main__":
    sys.exit(main())
