#!/usr/bin/env python3
"""Checks that includes run down the layers, folder by folder.

Every folder of product code has a floor in LAYERS, lowest first. A file may
include files of its own folder or of a folder on a lower floor; two folders
on one floor (the two stage groups) stay apart. An include of a folder on a
higher floor, or of a folder not on any floor, is an error, and so is a
folder of sources that no floor names. Because every include goes down or
stays in its folder, no folder can reach itself around a loop.

usage: check_layers.py REPO
"""
import os
import re
import sys

# Lowest first. One line a floor; folders on one line must not include each
# other.
LAYERS = [
    ["src/abi"],                   # the host's records, controls, platform calls
    ["src/base"],                  # CPU tiers, vector types, pixels, column range
    ["src/match", "src/window"],   # the stages
    ["src/pipeline"],              # the frame procedure
    ["src/plugin"],                # descriptor, entry, version
    ["native"],                    # stand-ins and hosts of our own
    ["cli/platform"],              # what differs between the systems
    ["cli/convert"],               # the editor's samples to and from Y4M planes
    ["cli/io"],                    # Y4M files and safe output
    ["cli/pe"],                    # pelta32's loader of Windows DLLs
    ["cli/host"],                  # the editor's services, streaming, plug-ins
    ["cli/analyze"],               # the settings analysis
    ["cli/app"],                   # options, the commands, main
]
# Made by the build from src/plugin's template.
GENERATED = {"pelta_version.h": "src/plugin"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE = (".h", ".cpp")


def main():
    repo = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    floor = {}
    for n, group in enumerate(LAYERS):
        for folder in group:
            floor[folder] = n

    def folder_of(path):
        return os.path.dirname(os.path.relpath(path, repo)).replace(os.sep, "/")

    def resolve(inc, own_dir, tree):
        if inc in GENERATED:
            return GENERATED[inc]
        for base in (own_dir, tree, os.path.join(repo, "src"), repo):
            cand = os.path.join(base, inc)
            if os.path.isfile(cand):
                return folder_of(cand)
        return None

    bad = []
    files = 0
    for tree_name in ("src", "native", "cli"):
        tree = os.path.join(repo, tree_name)
        for root, _, names in os.walk(tree):
            for name in sorted(names):
                if not name.endswith(SOURCE):
                    continue
                path = os.path.join(root, name)
                rel = os.path.relpath(path, repo)
                here = folder_of(path)
                files += 1
                if here not in floor:
                    bad.append(f"{rel}: folder {here} is on no floor")
                    continue
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                for inc in INCLUDE.findall(text):
                    there = resolve(inc, root, tree)
                    if there is None:
                        bad.append(f"{rel} includes {inc}, which is not in the tree")
                    elif there == here:
                        continue
                    elif there not in floor:
                        bad.append(f"{rel} includes {inc}, in {there}, which is on no floor")
                    elif floor[there] > floor[here]:
                        bad.append(f"{rel} ({here}) includes {inc}, from {there} above it")
                    elif floor[there] == floor[here]:
                        bad.append(f"{rel} includes {inc}: {here} and {there} stay apart")
    if files == 0:
        bad.append(f"no sources under {repo}")
    for line in bad:
        print(line)
    if not bad:
        print(f"includes run down the layers ({files} files, {len(floor)} folders)")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
