#!/usr/bin/env python3
"""Checks that the folders of a source tree include each other without a circle.

Each tree includes its own files by path from its root ("handles/file_io.h"). The files at a
tree's root are shared by its folders, so the graph is between the folders below the root: an
edge A -> B for every file in A that includes a file in B. A circle among them is printed and
fails the check; --print shows every edge.

  scripts/include-graph.py [--print] [TREE...]   (default: every tree of the project)
"""
import os
import re
import sys

TREES = ["src", "platform/src/posix", "shadrel/src", "tools/kestro", "ondisk/src"]
INCLUDE = re.compile(r'^\s*#\s*include\s+[<"]([^>"]+)[>"]', re.M)


def folder_of(path):
    head = path.split("/", 1)
    return head[0] if len(head) == 2 else None


def edges_of(root):
    edges = {}
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            source = os.path.relpath(os.path.join(folder, name), root)
            start = folder_of(source)
            if start is None:
                continue
            with open(os.path.join(root, source), encoding="utf-8") as text:
                for included in INCLUDE.findall(text.read()):
                    end = folder_of(included)
                    if end and end != start and os.path.exists(os.path.join(root, included)):
                        edges.setdefault(start, set()).add(end)
    return edges


def circle(edges):
    state = {}

    def visit(node, path):
        state[node] = "open"
        for after in sorted(edges.get(node, ())):
            if state.get(after) == "open":
                return path[path.index(after):] + [after]
            if after not in state:
                found = visit(after, path + [after])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def main(arguments):
    show = "--print" in arguments
    trees = [tree for tree in arguments if tree != "--print"] or TREES
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    failed = False
    for tree in trees:
        edges = edges_of(os.path.join(root, tree))
        if show:
            for start in sorted(edges):
                print(f"{tree}: {start} -> {', '.join(sorted(edges[start]))}")
        found = circle(edges)
        if found:
            print(f"{tree}: folders include each other in a circle: {' -> '.join(found)}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
