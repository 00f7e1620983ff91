#!/usr/bin/python3
"""Makes the manual page man/ephem-table.1 from its template man/ephem-table.1.in and the command line's
parser (tools/ephem_table/cli.py), so that what --help says is written once.

usage: man/generate.py [OUTPUT]   (default: man/ephem-table.1 beside this script; - for standard output)

The template holds the page's own sections in roff; a line that is a marker alone is replaced by what the
parser says:
  @SYNOPSIS@     a synopsis of each command, and of ephem-table's own options
  @DESCRIPTION@  ephem-table's description and the list of its commands with their one-line help
  @OPTIONS@      ephem-table's own options
  @COMMANDS@     for each command: its description, its arguments and options, its examples and the
                 sections that tell more
  @EXAMPLES@     ephem-table's examples
The text of the help is escaped for roff: a backslash is \\e, every hyphen \\- (as --help prints it, which
is what is typed: options, dates, negative numbers, names such as ephem-table), a line that would begin
with a dot or a quote begins with \\&; a word in `backquotes` is bold, and a citation of the page,
"ephem-table(1), SECTION", becomes "see SECTION".
"""

import argparse
import os
import re
import sys
import tempfile
import textwrap
from typing import Callable, Dict, List, Sequence

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tools"))

from ephem_table import cli  # noqa: E402
from ephem_table.helpformat import CITATION, SECTION_SEPARATOR, Block, Parser, blocks, join_words  # noqa: E402

TEMPLATE = os.path.join(HERE, "ephem-table.1.in")
PAGE = os.path.join(HERE, "ephem-table.1")
REMAKE = "python3 man/generate.py"
MARKER = re.compile(r"^@([A-Z]+)@$")
# Text lines of the page are kept short enough to read in a diff; roff fills them anew.
LINE_WIDTH = 100


class TemplateError(Exception):
    """A template whose markers are not each used once."""


# Roff ------------------------------------------------------------------------------------------------

def escape(text: str) -> str:
    """Plain text as roff prints it: backslashes and hyphens escaped, other than ASCII as \\[uXXXX]."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "".join(c if ord(c) < 128 else f"\\[u{ord(c):04X}]" for c in text)


def bold(text: str) -> str:
    return f"\\fB{escape(text)}\\fR"


def italic(text: str) -> str:
    return f"\\fI{escape(text)}\\fR"


def inline(text: str) -> str:
    """A help text in roff: escaped, with its `quoted words` bold and its citations of the page made
    "see SECTION"."""
    pattern = re.compile(f"{CITATION.pattern}|`([^`]+)`")
    out = []
    at = 0
    for found in pattern.finditer(text):
        out.append(escape(text[at:found.start()]))
        if found.group(1) is not None:
            out.append("see " + join_words([bold(name) for name in SECTION_SEPARATOR.split(found.group(1))]))
        else:
            out.append(bold(found.group(2)))
        at = found.end()
    out.append(escape(text[at:]))
    return "".join(out)


def text_line(roff: str) -> str:
    """A line of roff text that roff takes for text: one that begins with a dot or a quote would be a
    request."""
    return "\\&" + roff if roff[:1] in (".", "'") else roff


def text_lines(roff: str) -> List[str]:
    """A filled paragraph of roff as lines of the page, broken at blanks."""
    return [text_line(line) for line in textwrap.wrap(roff, LINE_WIDTH, break_on_hyphens=False,
                                                       break_long_words=False)]


def verbatim_lines(lines: Sequence[str]) -> List[str]:
    """Lines printed as they are, indented, in no-fill mode."""
    return [".RS 4", ".nf"] + [text_line(escape(line)) for line in lines] + [".fi", ".RE"]


def text_blocks(text: str) -> List[str]:
    """A description in roff: its paragraphs filled, its indented lines kept."""
    out: List[str] = []
    for part in blocks(text):
        for block in part:
            if out:
                out.append(".PP")
            out.extend(block_lines(block))
    return out


def block_lines(block: Block) -> List[str]:
    return verbatim_lines(block.lines) if block.verbatim else text_lines(inline(block.lines[0]))


# The parser ------------------------------------------------------------------------------------------

def commands_action(parser: argparse.ArgumentParser) -> "argparse._SubParsersAction[Parser]":
    """The parser's list of commands."""
    return next(action for action in parser._actions if isinstance(action, argparse._SubParsersAction))


def subcommands(parser: argparse.ArgumentParser) -> Dict[str, Parser]:
    """The commands of ephem-table, in their order, with their parsers."""
    commands: Dict[str, Parser] = commands_action(parser).choices
    return commands


def one_line_helps(parser: argparse.ArgumentParser) -> Dict[str, str]:
    """Each command's help in the list of commands."""
    return {choice.dest: choice.help or "" for choice in commands_action(parser)._get_subactions()}


def command_metavar(parser: argparse.ArgumentParser) -> str:
    """What the usage calls a command."""
    return metavar(commands_action(parser))


def documented(parser: argparse.ArgumentParser, with_help: bool = False) -> List[argparse.Action]:
    """The arguments and options of a parser that the page lists: all but the list of commands, and but
    --help unless asked for (ephem-table's own options tell it once for every command)."""
    left_out = (argparse._SubParsersAction,) if with_help else (argparse._SubParsersAction, argparse._HelpAction)
    return [action for action in parser._actions if not isinstance(action, left_out)]


def metavar(action: argparse.Action) -> str:
    if isinstance(action.metavar, str):
        return action.metavar
    return action.dest if not action.option_strings else action.dest.upper()


def takes_value(action: argparse.Action) -> bool:
    return action.nargs != 0


def value_text(action: argparse.Action) -> str:
    """The value of an argument or option in roff: NAME, or NAME ... where it takes more than one."""
    repeated = action.nargs in ("*", "+")
    # \& after the dots: no sentence ends there, and no second space follows.
    return italic(metavar(action)) + ("\\ ...\\&" if repeated else "")


def synopsis_item(action: argparse.Action, alone: bool = False) -> str:
    """An argument or option as the synopsis shows it, with unbreakable spaces inside it; in brackets
    where it may be left out, unless it is alone on its line."""
    if action.option_strings:
        item = bold(action.option_strings[0])
        if takes_value(action):
            item += "\\ " + value_text(action)
        optional = not action.required
    else:
        item = value_text(action)
        optional = action.nargs in ("?", "*")
    return f"[{item}]" if optional and not alone else item


def synopsis(parser: Parser) -> List[str]:
    """Each command with its arguments and options, then ephem-table's own options."""
    out: List[str] = []
    name = escape(parser.prog)
    for command, sub in subcommands(parser).items():
        actions = documented(sub)
        ordered = [a for a in actions if not a.option_strings] + [a for a in actions if a.option_strings]
        out += [f".SY {name}", bold(command)] + [synopsis_item(action) for action in ordered] + [".YS"]
    for action in documented(parser):
        out += [f".SY {name}", synopsis_item(action, alone=True), ".YS"]
    out += [f".SY {name}", f"[{italic(command_metavar(parser))}]", bold("--help"), ".YS"]
    return out


def option_entries(parser: argparse.ArgumentParser, actions: Sequence[argparse.Action]) -> List[str]:
    """Arguments and options as tagged paragraphs: the tag, then the help."""
    formatter = parser._get_formatter()
    out: List[str] = []
    for action in actions:
        if action.option_strings:
            names = [bold(option) for option in action.option_strings]
            tag = ", ".join(names) + (" " + value_text(action) if takes_value(action) else "")
        else:
            tag = value_text(action)
        help_text = formatter._expand_help(action) if action.help else ""
        out += [".TP", tag] + text_lines(inline(help_text))
    return out


def examples(lines: Sequence[str]) -> List[str]:
    return verbatim_lines([line for example in lines for line in example.split("\n")])


def description(parser: Parser) -> List[str]:
    """ephem-table's description, then its commands, each with its one-line help."""
    out = text_blocks(parser.description or "")
    helps = one_line_helps(parser)
    out += [".PP", "The commands:"]
    for command in subcommands(parser):
        out += [".TP", bold(command)] + text_lines(inline(helps[command]))
    return out


def commands(parser: Parser) -> List[str]:
    """For each command: its description, arguments and options, examples and where the page tells
    more."""
    out: List[str] = []
    for command, sub in subcommands(parser).items():
        out += [f".SS {command}"] + text_blocks(sub.description or "")
        out += option_entries(sub, documented(sub))
        if sub.examples:
            out += [".PP", "Examples:"] + examples(sub.examples)
        if sub.manual:
            out += [".PP"] + text_lines("See " + join_words([bold(name) for name in sub.manual]) + ".")
    return out


def top_examples(parser: Parser) -> List[str]:
    return examples(parser.examples)


GENERATED: Dict[str, Callable[[Parser], List[str]]] = {
    "SYNOPSIS": synopsis,
    "DESCRIPTION": description,
    "OPTIONS": lambda parser: option_entries(parser, documented(parser, with_help=True)),
    "COMMANDS": commands,
    "EXAMPLES": top_examples,
}


# The page --------------------------------------------------------------------------------------------

def page(template: str, parser: Parser) -> str:
    """The template with each marker replaced by what the parser says; a TemplateError for a marker that
    is unknown, missing or used twice."""
    used: List[str] = []
    out: List[str] = []
    for line in template.splitlines():
        marker = MARKER.match(line)
        if not marker:
            out.append(line)
            continue
        name = marker.group(1)
        if name not in GENERATED:
            raise TemplateError(f"{TEMPLATE}: unknown marker @{name}@")
        if name in used:
            raise TemplateError(f"{TEMPLATE}: marker @{name}@ used twice")
        used.append(name)
        out += GENERATED[name](parser)
    missing = [name for name in GENERATED if name not in used]
    if missing:
        raise TemplateError(f"{TEMPLATE}: no marker {', '.join(f'@{name}@' for name in missing)}")
    return "\n".join(out) + "\n"


def current_page() -> str:
    """The page as the template and the parser make it now."""
    with open(TEMPLATE, encoding="utf-8") as template:
        return page(template.read(), cli.parser())


def write_page(text: str, path: str) -> None:
    """Replaces the page whole or not at all."""
    folder = os.path.dirname(os.path.abspath(path))
    descriptor, temporary = tempfile.mkstemp(prefix=".ephem-table.1.", dir=folder)
    try:
        with os.fdopen(descriptor, "w", encoding="utf-8") as out:
            out.write(text)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


USAGE = "usage: man/generate.py [OUTPUT]   (default man/ephem-table.1; - for standard output)"


def main(argv: List[str]) -> int:
    if argv in (["-h"], ["--help"]):
        print(USAGE)
        return 0
    if len(argv) > 1 or (argv and argv[0].startswith("-") and argv[0] != "-"):
        # No option but the help: any other word like one is a slip, never the name of a page to write.
        print(USAGE, file=sys.stderr)
        return 2
    try:
        text = current_page()
    except (OSError, TemplateError) as error:
        print(f"generate.py: {error}", file=sys.stderr)
        return 1
    output = argv[0] if argv else PAGE
    try:
        if output == "-":
            sys.stdout.write(text)
        else:
            write_page(text, output)
    except OSError as error:
        print(f"generate.py: cannot write {output}: {error.strerror}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
