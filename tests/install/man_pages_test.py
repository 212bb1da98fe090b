#!/usr/bin/env python3
"""The manual pages against the programs they describe.

Every program answers --help and --version with exit status 0. What each program's --help
lists (fielddesk-cli: its commands, and each command's options from `COMMAND --help`) must
be what its manual page lists, in both directions; a difference is named exactly, e.g.
"fielddesk-cli.1: command 'plan' is missing (its --help lists --seconds, --json)". The
commands are read from the program's own help, so a new command shows up here by itself.
Each page must also format without a warning (man --warnings).

    man_pages_test.py BIN_DIR MAN_DIR
"""

import os
import re
import shutil
import subprocess
import sys

# A help line that lists options starts with them: "  --seconds N     text",
# "  -h, --help", "  --ip, --mask, --gateway  text". Values are written in capitals.
HELP_OPTIONS = re.compile(
    r"^\s+((?:--?[a-z][a-z0-9-]*(?:[ =][A-Z][A-Z0-9:._-]*)?(?:, )?)+)(?:\s|$)")
OPTION = re.compile(r"(?<![\w-])--?[a-z][a-z0-9-]*")
# In roff an option is written with escaped hyphens: \-\-seconds, \-h.
ROFF_OPTION = re.compile(r"(?<![\w\\-])(?:\\-|-){1,2}[a-z][a-z0-9-]*(?:\\-[a-z0-9]+)*")


def run(args):
    p = subprocess.run(args, capture_output=True, text=True, timeout=60,
                       env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    return p.returncode, p.stdout, p.stderr


def help_options(text, section=None):
    """Options listed in a help text: in its usage lines and at the start of its lines;
    with `section`, only those at the start of lines below that heading."""
    found, inside, usage = set(), section is None, False
    for line in text.splitlines():
        if line and not line[0].isspace():
            usage = section is None and line.startswith("Usage:")
            if usage:
                found.update(OPTION.findall(line[len("Usage:"):]))
            if section is not None:
                inside = line.rstrip(":") in section
            continue
        if usage and line.strip():
            found.update(OPTION.findall(line))
            continue
        usage = False
        m = HELP_OPTIONS.match(line) if inside else None
        if m:
            found.update(OPTION.findall(m.group(1)))
    return found


def help_commands(text):
    commands, inside = [], False
    for line in text.splitlines():
        if line and not line[0].isspace():
            inside = line.startswith("Commands:")
            continue
        m = re.match(r"^  ([a-z][a-z0-9-]*)\s", line) if inside else None
        if m:
            commands.append(m.group(1))
    return commands


def roff_sections(path):
    """{(section, subsection): set of options of its .TP items} of a manual page."""
    items, sh, ss = {}, "", ""
    lines = open(path, encoding="utf-8").read().splitlines()
    for i, line in enumerate(lines):
        if line.startswith(".SH "):
            sh, ss = line[4:].strip('"'), ""
        elif line.startswith(".SS "):
            ss = line[4:].strip('"').replace("\\-", "-")
        items.setdefault((sh, ss), set())
        if line.strip() == ".TP" and i + 1 < len(lines):
            tag = lines[i + 1]
            items[(sh, ss)].update(o.replace("\\-", "-") for o in ROFF_OPTION.findall(tag))
    return items


def compare(where, listed, documented, problems):
    for o in sorted(listed - documented):
        problems.append(f"{where}: {o} is in --help but not in the manual page")
    for o in sorted(documented - listed):
        problems.append(f"{where}: {o} is in the manual page but not in --help")


def main():
    bin_dir, man_dir = sys.argv[1], sys.argv[2]
    problems = []
    programs = ["fielddesk", "fielddesk-cli", "FileServer", "fielddesk-devsim"]
    helps = {}
    for p in programs:
        exe = os.path.join(bin_dir, p)
        if not os.path.exists(exe):
            problems.append(f"{p}: not built")
            continue
        for flag in ("--help", "--version"):
            rc, out, err = run([exe, flag])
            if rc != 0:
                problems.append(f"{p} {flag}: exit status {rc}, not 0 ({err.strip()})")
            elif flag == "--version" and not re.fullmatch(rf"{re.escape(p)} \d+\.\d+\.\d+\n", out):
                problems.append(f"{p} --version printed {out!r}")
            elif flag == "--help":
                helps[p] = out

    for p, text in helps.items():
        page = os.path.join(man_dir, p + ".1")
        if not os.path.exists(page):
            problems.append(f"{p}: no manual page {page}")
            continue
        items = roff_sections(page)
        if p != "fielddesk-cli":
            compare(f"{p}.1", help_options(text), items.get(("OPTIONS", ""), set()), problems)
            continue
        compare("fielddesk-cli.1 OPTIONS", help_options(text, {"Options"}),
                items.get(("OPTIONS", ""), set()), problems)
        commands = help_commands(text)
        if not commands:
            problems.append("fielddesk-cli --help lists no commands")
        described = {ss for (sh, ss) in items if sh == "COMMANDS" and ss}
        for c in commands:
            rc, out, err = run([os.path.join(bin_dir, p), c, "--help"])
            if rc != 0:
                problems.append(f"fielddesk-cli {c} --help: exit status {rc}")
                continue
            listed = help_options(out)
            if c not in described:
                problems.append(f"fielddesk-cli.1: command '{c}' is missing (its --help "
                                f"lists {', '.join(sorted(listed))})")
                continue
            compare(f"fielddesk-cli.1 command '{c}'", listed, items[("COMMANDS", c)], problems)
        for c in sorted(described - set(commands)):
            problems.append(f"fielddesk-cli.1: command '{c}' is described but not in --help")

    # Formatting warnings (groff's, through man), where man is installed.
    if shutil.which("man"):
        for page in sorted(os.listdir(man_dir)):
            if not page.endswith(".1"):
                continue
            rc, out, err = run(["man", "--warnings", "-E", "UTF-8", "-l",
                                os.path.join(man_dir, page)])
            if rc != 0 or err.strip():
                problems.append(f"{page}: man --warnings: {err.strip() or 'exit ' + str(rc)}")
    else:
        print("man is not installed: the pages' formatting was not checked")

    for line in problems:
        print("FAIL:", line)
    if not problems:
        print(f"{len(helps)} programs: --help, --version and their manual pages agree")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
