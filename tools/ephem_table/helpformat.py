"""The help of the command line as one text for two readers: --help, wrapped to the terminal by argparse,
and the manual page ephem-table(1), which man/generate.py makes from the same parser.

A help text is paragraphs separated by blank lines, each wrapped anew for its reader; a line indented by
two spaces is kept as it is (an example). A section of the manual page is cited as
"ephem-table(1), SECTION" (or "SECTION and SECTION"), which the page itself writes as "see SECTION".
A command's parser carries its examples and the sections of the manual that tell more, which --help
shows after the options and the page in the command's own part.
"""

import argparse
import re
import textwrap
from typing import Any, List, NamedTuple, NoReturn, Sequence, Tuple

from .errors import USAGE_STATUS

MANUAL = "ephem-table(1)"
# A section's name: words in capitals, dots allowed inside (DATOS.DAT), never at its end (a sentence's).
SECTION = r"[A-Z](?:[A-Z.]*[A-Z])?(?: [A-Z](?:[A-Z.]*[A-Z])?)*"
CITATION = re.compile(re.escape(MANUAL) + rf", ({SECTION}(?:(?:, | and ){SECTION})*)")
SECTION_SEPARATOR = re.compile(r", | and ")
VERBATIM_INDENT = "  "
HELP_HELP = "print the help of ephem-table, or of the COMMAND it follows, and exit"


class Block(NamedTuple):
    """A paragraph (its words in one line) or lines kept as they are (without their indent)."""
    verbatim: bool
    lines: Tuple[str, ...]


def blocks(text: str) -> List[List[Block]]:
    """The text's parts, separated by blank lines, each a list of blocks: runs of indented lines
    (verbatim) and of other lines (a paragraph, its lines joined)."""
    parts: List[List[Block]] = []
    for chunk in re.split(r"\n[ \t]*\n", text.strip("\n")):
        part: List[Block] = []
        for line in chunk.split("\n"):
            verbatim = line.startswith(VERBATIM_INDENT)
            if verbatim:
                content = line[len(VERBATIM_INDENT):].rstrip()
            else:
                content = line.strip()
            if part and part[-1].verbatim == verbatim:
                if verbatim:
                    part[-1] = Block(True, part[-1].lines + (content,))
                else:
                    part[-1] = Block(False, (f"{part[-1].lines[0]} {content}",))
            else:
                part.append(Block(verbatim, (content,)))
        parts.append(part)
    return parts


def cited_sections(text: str) -> List[str]:
    """The sections of the manual page that a text cites, in order."""
    return [name for found in CITATION.finditer(text) for name in SECTION_SEPARATOR.split(found.group(1))]


def join_words(words: Sequence[str]) -> str:
    """"A", "A and B", "A, B and C"."""
    return words[0] if len(words) == 1 else f"{', '.join(words[:-1])} and {words[-1]}"


def epilog(examples: Sequence[str], manual: Sequence[str]) -> str:
    """The end of a command's --help: its examples (a line each, or a command continued over lines) and
    where the manual page tells more."""
    parts = []
    if examples:
        lines = [line for example in examples for line in example.split("\n")]
        parts.append("examples:\n" + "\n".join(VERBATIM_INDENT + line for line in lines))
    if manual:
        parts.append(f"more in the manual page: {MANUAL}, {join_words(manual)}")
    return "\n\n".join(parts)


class Formatter(argparse.HelpFormatter):
    """argparse's formatter, with descriptions and epilogs wrapped a paragraph at a time and examples kept
    as they are."""

    def _fill_text(self, text: str, width: int, indent: str) -> str:
        parts = []
        for part in blocks(text):
            lines: List[str] = []
            for block in part:
                if block.verbatim:
                    lines.extend(indent + VERBATIM_INDENT + line for line in block.lines)
                else:
                    lines.extend(textwrap.wrap(block.lines[0], width, initial_indent=indent,
                                               subsequent_indent=indent, break_on_hyphens=False,
                                               break_long_words=False))
            parts.append("\n".join(lines))
        return "\n\n".join(parts)


class Parser(argparse.ArgumentParser):
    """argparse's parser, whose usage errors are one line that points to the help, and which carries its
    examples and the sections of the manual page that tell more (the epilog made of them)."""

    def __init__(self, *args: Any, examples: Sequence[str] = (), manual: Sequence[str] = (),
                 **kwargs: Any) -> None:
        # Its own --help, whose text fits every command.
        kwargs.update(formatter_class=Formatter, add_help=False)
        super().__init__(*args, **kwargs)
        self.add_argument("-h", "--help", action="help", help=HELP_HELP)
        self.tell(examples, manual)

    def tell(self, examples: Sequence[str], manual: Sequence[str]) -> None:
        """Sets the examples and the sections of the manual page that tell more."""
        self.examples = tuple(examples)
        self.manual = tuple(manual)
        self.epilog = epilog(examples, manual) or None

    def error(self, message: str) -> NoReturn:
        if len(message) > 300:
            message = message[:300] + "..."
        self.exit(USAGE_STATUS, f"{self.prog}: {message} (see {self.prog} --help)\n")


def add_command(commands: "argparse._SubParsersAction[Parser]", name: str, help: str, description: str,
                examples: Sequence[str], manual: Sequence[str]) -> Parser:
    """A command of the parser whose commands these are: its one-line help in the list of commands, its
    description, examples and the sections of the manual page that tell more."""
    command = commands.add_parser(name, help=help, description=description)
    command.tell(examples, manual)
    return command
