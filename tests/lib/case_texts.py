"""What the end-to-end cases of the terminal program and of the window share: the failure
of a case, the programs' printf-like formatting of a catalogue text, and a catalogue
text named in a table of cases."""

import re


class CaseFailed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailed(message)


def c_format(fmt, args):
    """The program's printf-like formatting of a catalogue text: %s, %u, %x (with a
    zero-padded width) and %%."""
    values = list(args)

    def one(match):
        conversion = match.group(0)
        if conversion == "%%":
            return "%"
        check(values, f"too few values for {fmt!r}")
        value = values.pop(0)
        if conversion == "%s":
            return str(value)
        if conversion == "%u":
            return str(int(value))
        return format(int(value), conversion[1:-1] + "x")

    text = re.sub(r"%%|%s|%u|%0?\d*x", one, fmt)
    check(not values, f"too many values for {fmt!r}")
    return text


class T:
    """Catalogue text by id, formatted with args; resolved when checked against the case's
    texts (anything with text(id, *args))."""

    def __init__(self, text_id, *args):
        self.text_id = text_id
        self.args = args

    def resolve(self, texts):
        return texts.text(self.text_id, *self.args)

    def __repr__(self):
        return f"text {self.text_id}{self.args if self.args else ''}"
