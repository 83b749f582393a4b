"""Shared by the section writers of bench/report.md: each owns the text between
its BEGIN and END marks and leaves the rest of the report as it is."""

import os


def commands_block(out):
    """The commands of the run, as the section's closing code block."""
    lines = ["Commands:", "", "```"]
    lines += [line.rstrip("\n") for line in open(os.path.join(out, "commands.txt"))]
    lines += ["```"]
    return lines


def write_section(report, begin, end, section, before=None):
    """Replaces the marked section of report with section (which carries its
    own marks); a report without it gets it before the mark `before` where
    that stands, else at its end."""
    text = open(report, encoding="utf-8").read() if os.path.exists(report) else "# Benchmark report\n\n"
    if begin in text and end in text:
        head, rest = text.split(begin, 1)
        tail = rest.split(end, 1)[1].lstrip("\n")
        text = head + section + ("\n" + tail if tail else "")
    elif before and before in text:
        head, tail = text.split(before, 1)
        text = head.rstrip("\n") + "\n\n" + section + "\n" + before + tail
    else:
        text = text.rstrip("\n") + "\n\n" + section
    open(report, "w", encoding="utf-8").write(text)


def keep_section(new_path, old_path, begin, end):
    """`--keep NEW OLD`: NEW (the rest of the report, just written) replaces
    OLD, with OLD's marked section carried over until it is measured anew."""
    new = open(new_path, encoding="utf-8").read()
    old = open(old_path, encoding="utf-8").read() if os.path.exists(old_path) else ""
    if begin in old and end in old:
        new = new.rstrip("\n") + "\n\n" + begin + old.split(begin, 1)[1].split(end, 1)[0] + end + "\n"
    open(old_path, "w", encoding="utf-8").write(new)
