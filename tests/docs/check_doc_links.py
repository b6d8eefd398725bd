#!/usr/bin/env python3
"""Checks that every relative link of the README and of docs/*.md leads to a
file of the checkout and, where it names one, to a heading of that page:

    check_doc_links.py <source dir>

Anchors are made as the repository host makes them: the heading's text in
lower case, without its punctuation, spaces as hyphens, "-1", "-2", ... after
repeats. One case per page, GoogleTest-style lines."""
import glob
import os
import re
import sys
from urllib.parse import unquote

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from script_results import CheckRun  # noqa: E402

LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
CODE_SPAN = re.compile(r"(`+).*?\1")


def outside_fences(text):
    """(line number, line) of every line outside fenced code blocks."""
    fence = None
    for number, line in enumerate(text.split("\n"), 1):
        marker = re.match(r"\s*(```+|~~~+)", line)
        if marker and (fence is None or marker.group(1).startswith(fence)):
            fence = marker.group(1) if fence is None else None
        elif fence is None:
            yield number, line


def anchors(text):
    seen, result = {}, set()
    for _, line in outside_fences(text):
        heading = re.match(r"#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        title = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading.group(1).replace("`", ""))
        slug = re.sub(r"[^\w\- ]", "", title.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else f"{slug}-{count}")
    return result


def read(path):
    with open(path, encoding="utf-8") as page:
        return page.read()


def page_anchors(path, cache):
    if path not in cache:
        cache[path] = anchors(read(path))
    return cache[path]


def broken_links(page, root, cache):
    problems = []
    for number, line in outside_fences(read(page)):
        for match in LINK.finditer(CODE_SPAN.sub("", line)):
            target = match.group(1)
            if re.match(r"[a-zA-Z][a-zA-Z0-9+.-]*:", target):
                continue  # a web address or mail link
            path, _, anchor = target.partition("#")
            where = f"{os.path.relpath(page, root)}:{number}: {target}"
            file = os.path.normpath(os.path.join(os.path.dirname(page), unquote(path))) if path else page
            if not os.path.realpath(file).startswith(os.path.realpath(root) + os.sep):
                problems.append(f"{where}: leads out of the checkout")
            elif not os.path.exists(file):
                problems.append(f"{where}: no such file")
            elif anchor and (not file.endswith(".md") or unquote(anchor) not in page_anchors(file, cache)):
                problems.append(f"{where}: no heading with that anchor")
    return problems


def main():
    root = os.path.abspath(sys.argv[1])
    pages = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    run = CheckRun("DocLinks")
    cache = {}
    for page in pages:
        name = re.sub(r"\W", "_", os.path.relpath(page, root))
        run.test(name, broken_links(page, root, cache))
    return run.summary()


if __name__ == "__main__":
    sys.exit(main())
