#!/usr/bin/env python3
"""Checks that the documentation names what the checkout holds.

- docs/testing.md names, in code spans, every fuzz target (each fuzz/*.cpp)
  in its section "Fuzzing", and every test folder (each folder under tests/
  but support/) in its section "The suites"; tests/support is named
  somewhere on the page.
- README.md is at most 150 lines: one screen, the rest is in docs/.

Prints each thing missing and exits 1 when there is one; 0 when all hold.

    scripts/check-docs.py [ROOT]     (ROOT: the checkout, by default this one)
"""
import re
import sys
from pathlib import Path

README_LINES = 150
FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
HEADING = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)[ \t#]*$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")


def sections(text: str) -> dict:
    """The text under each heading (up to the next heading of any level),
    headings inside fenced code left alone."""
    found = {}
    title = None
    fence = None
    for line in text.splitlines():
        m = FENCE.match(line)
        if m:
            marker = m.group(1)[0]
            fence = None if fence == marker else (fence or marker)
        elif fence is None:
            h = HEADING.match(line)
            if h:
                title = h.group(2).strip()
                found.setdefault(title, [])
                continue
        if title is not None:
            found[title].append(line)
    return {name: "\n".join(lines) for name, lines in found.items()}


def code_spans(text: str) -> set:
    """Every code span's text, also without a trailing "/"."""
    spans = set()
    for m in CODE_SPAN.finditer(text):
        body = m.group(2).strip()
        spans.add(body)
        spans.add(body.rstrip("/"))
    return spans


def check(root: Path) -> list:
    problems = []
    testing = root / "docs" / "testing.md"
    text = testing.read_text(encoding="utf-8")
    parts = sections(text)

    fuzzing = parts.get("Fuzzing")
    if fuzzing is None:
        problems.append(f"{testing}: no section \"Fuzzing\"")
    else:
        named = code_spans(fuzzing)
        for target in sorted(p.stem for p in (root / "fuzz").glob("*.cpp")):
            if target not in named and f"fuzz_{target}" not in named:
                problems.append(f"{testing}: the fuzz target `{target}` (fuzz/{target}.cpp) is not named under \"Fuzzing\"")

    suites = parts.get("The suites")
    if suites is None:
        problems.append(f"{testing}: no section \"The suites\"")
    else:
        named = code_spans(suites)
        for folder in sorted(p.name for p in (root / "tests").iterdir() if p.is_dir() and p.name != "support"):
            if folder not in named and f"tests/{folder}" not in named:
                problems.append(f"{testing}: the test folder `{folder}` (tests/{folder}/) is not named under \"The suites\"")
    if (root / "tests" / "support").is_dir() and "tests/support" not in code_spans(text):
        problems.append(f"{testing}: `tests/support` is not named")

    readme = root / "README.md"
    lines = len(readme.read_text(encoding="utf-8").splitlines())
    if lines > README_LINES:
        problems.append(f"{readme}: {lines} lines, more than {README_LINES}")
    return problems


def main() -> int:
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    problems = check(root)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print("docs check: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
