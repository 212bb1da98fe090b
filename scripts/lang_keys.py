#!/usr/bin/env python3
"""Collects every English text the program looks up in its language files.

Sources:
  - string literals passed directly to GetLangText(...) anywhere under src/;
  - string literals between "lang-keys:begin" and "lang-keys:end" comment markers under src/
    (tables of keys that are looked up through a variable);
  - resources/Languages/ui_texts.txt (captions of windows and controls).

Writes resources/Languages/keys.txt, one key per line, sorted, duplicates that differ only in
letter case removed (lookups ignore case). With --check, writes nothing and exits 1 when
keys.txt is out of date.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SRC = ROOT / "src"
UI_TEXTS = ROOT / "resources" / "Languages" / "ui_texts.txt"
KEYS = ROOT / "resources" / "Languages" / "keys.txt"

LITERAL = r'"((?:[^"\\\n]|\\.)*)"'
CALL_RE = re.compile(r'\bGetLangText\s*\(\s*(?:u8)?' + LITERAL + r'\s*\)')
STRING_RE = re.compile(r'(?:u8)?' + LITERAL)
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "0": "\0"}


def unescape(text):
    return re.sub(r'\\(.)', lambda m: ESCAPES.get(m.group(1), m.group(1)), text)


def from_sources():
    keys = []
    for path in sorted(SRC.rglob("*")):
        if path.suffix not in (".cpp", ".h", ".hpp", ".cc"):
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        keys += [unescape(m.group(1)) for m in CALL_RE.finditer(text)]
        for block in re.findall(r'lang-keys:begin(.*?)lang-keys:end', text, re.S):
            # Comments inside a block may quote texts that are not keys.
            block = re.sub(r'//[^\n]*', '', block)
            keys += [unescape(m.group(1)) for m in STRING_RE.finditer(block)]
    return keys


def from_ui_texts():
    lines = UI_TEXTS.read_text(encoding="utf-8").splitlines()
    return [l.strip() for l in lines if l.strip() and not l.lstrip().startswith("#")]


def collect():
    seen = {}
    for key in from_sources() + from_ui_texts():
        # A key must fit on one INI line and must not contain the separator.
        if not key or any(c in key for c in "\r\n\0="):
            print(f"skipped, cannot be a language-file key: {key!r}", file=sys.stderr)
            continue
        seen.setdefault(key.lower(), key)
    return sorted(seen.values(), key=lambda k: (k.lower(), k))


def main():
    text = "".join(k + "\n" for k in collect())
    if "--check" in sys.argv[1:]:
        current = KEYS.read_text(encoding="utf-8") if KEYS.exists() else ""
        if current != text:
            print(f"{KEYS} is out of date; run {sys.argv[0]}", file=sys.stderr)
            return 1
        return 0
    KEYS.write_text(text, encoding="utf-8")
    print(f"{len(text.splitlines())} keys written to {KEYS}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
