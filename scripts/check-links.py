#!/usr/bin/env python3
"""Checks the relative links of README.md and docs/**/*.md.

Every link that is not a web address must name a file or folder that exists
and, with a #fragment into a Markdown page, a heading of that page, as GitHub
makes its anchors. Prints each broken link with its file and line and exits
1 when there is one; 0 when all hold.

    scripts/check-links.py [ROOT]     (ROOT: the checkout, by default this one)
"""
import os
import re
import sys
import unicodedata
from pathlib import Path
from urllib.parse import unquote

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
HEADING = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)[ \t#]*$")
INLINE_CODE = re.compile(r"(`+)(.+?)\1")
# [text](target) and ![alt](target); the target may be <bracketed> and may
# carry a "title".
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^)\s]+)(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
HTML_LINK = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
WEB = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")  # http:, https:, mailto: ...


def anchor(heading: str) -> str:
    """The anchor GitHub gives a heading: its text in lower case, blanks as
    '-', every other character but letters, digits, '-' and '_' dropped."""
    text = INLINE_LINK.sub(lambda m: re.sub(r"^!?\[|\]\(.*$", "", m.group(0)), heading)
    text = INLINE_CODE.sub(lambda m: m.group(2), text)
    text = re.sub(r"<[^>]+>", "", text)
    kept = []
    for ch in text.lower():
        category = unicodedata.category(ch)
        if ch in " -_" or category[0] in "LNM" or category == "Pc":
            kept.append("-" if ch == " " else ch)
    return "".join(kept)


def lines_outside_code(path: Path):
    """(line number, text) of every line not inside a fenced code block,
    with inline code taken out."""
    fence = None
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        opening = FENCE.match(line)
        if fence:
            if opening and opening.group(1)[0] == fence[0] and len(opening.group(1)) >= len(fence):
                fence = None
            continue
        if opening:
            fence = opening.group(1)
            continue
        yield number, line


ANCHORS = {}


def anchors_of(path: Path):
    cache = ANCHORS
    if path not in cache:
        seen = {}
        found = set()
        for _, line in lines_outside_code(path):
            match = HEADING.match(line)
            if not match:
                continue
            base = anchor(match.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
        cache[path] = found
    return cache[path]


def targets_of(line: str):
    line = INLINE_CODE.sub("", line)
    for pattern in (INLINE_LINK, REFERENCE, HTML_LINK):
        for match in pattern.finditer(line):
            yield match.group(1).strip("<>")


def check(root: Path, page: Path):
    problems = []
    for number, line in lines_outside_code(page):
        for target in targets_of(line):
            if not target or WEB.match(target):
                continue
            where, _, fragment = target.partition("#")
            where, fragment = unquote(where), unquote(fragment)
            if not where:
                linked = page
            elif where.startswith("/"):
                linked = root / where.lstrip("/")
            else:
                linked = page.parent / where
            label = f"{os.path.relpath(page, root)}:{number}: broken link '{target}'"
            shown = os.path.relpath(linked, root)
            if not linked.exists():
                problems.append(f"{label}: there is no {shown}")
            elif fragment and linked.suffix == ".md" and fragment not in anchors_of(linked):
                problems.append(f"{label}: {shown} has no heading with the anchor #{fragment}")
    return problems


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    pages = [root / "README.md"] + sorted((root / "docs").rglob("*.md"))
    problems = []
    for page in pages:
        if page.exists():
            problems += check(root, page)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"check-links: {len(problems)} broken link(s)", file=sys.stderr)
        return 1
    print(f"check-links: every relative link of {len(pages)} pages holds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
