"""Tests of the help written once: the manual page is what man/generate.py makes from its template and the
command line's parser, roff renders it as --help says it, the template does not say again what the help
says, and --help wraps its paragraphs and keeps its examples."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from typing import List

from testing import TOOLS, TestCase, run_tool
from ephem_table import cli
from ephem_table.helpformat import Parser, add_command, cited_sections

MAN = TOOLS.parent / "man"
sys.path.insert(0, str(MAN))
import generate  # noqa: E402

HAVE_MAN = shutil.which("man") is not None


def render(page: pathlib.Path) -> "subprocess.CompletedProcess[str]":
    """The page as man shows it, in plain ASCII and 200 columns wide, with groff's warnings on standard
    error."""
    env = dict(os.environ, LC_ALL="C", MANWIDTH="200", MANPAGER="cat", PAGER="cat")
    return subprocess.run(["man", "--warnings", "-l", str(page)], capture_output=True, text=True, env=env,
                          check=False)


def plain_words(roff: str) -> List[str]:
    """The words of roff source, lowercase, without its requests, fonts and escapes."""
    text = re.sub(r"^\.\\\".*$", "", roff, flags=re.M)
    text = re.sub(r"^\.[A-Za-z]+ ?", "", text, flags=re.M)
    text = re.sub(r"\\f[BIRP]|\\&|\\\(..|\\\[u[0-9A-F]+\]|\\e", " ", text).replace("\\-", "-")
    return re.findall(r"[a-z0-9][a-z0-9.'=/()-]*", text.lower())


class PageTest(TestCase):
    def test_the_page_is_what_the_template_and_the_parser_make_now(self):
        made = generate.current_page()
        self.assertEqual((MAN / "ephem-table.1").read_text(encoding="utf-8"), made,
                         "man/ephem-table.1 is not what man/generate.py makes from man/ephem-table.1.in and "
                         f"tools/ephem_table/cli.py: remake it with `{generate.REMAKE}`")

    def test_every_section_the_help_points_to_is_in_the_page(self):
        page = (MAN / "ephem-table.1").read_text(encoding="utf-8")
        headings = set(re.findall(r'^\.SH "?([^"\n]+)"?$', page, flags=re.M))
        parser = cli.parser()
        cited = list(parser.manual)
        for command in generate.subcommands(parser).values():
            cited += command.manual
            texts = [command.description or ""] + [action.help or "" for action in command._actions]
            cited += [name for text in texts for name in cited_sections(text)]
        cited += cited_sections(parser.description or "")
        self.assertGreater(len(set(cited)), 10)
        self.assertEqual(sorted(set(cited) - headings), [])

    def test_the_template_says_nothing_again_that_the_help_says(self):
        # Eight words in a row, in the template and in what the parser puts in the page, are a sentence
        # written twice: one of them will be changed and the other not.
        template = (MAN / "ephem-table.1.in").read_text(encoding="utf-8")
        own = set(template.splitlines())
        generated = "\n".join(line for line in generate.current_page().splitlines() if line not in own)
        length = 8
        words = plain_words(generated)
        said = {tuple(words[k:k + length]) for k in range(len(words) - length + 1)}
        kept = plain_words(template)
        twice = [" ".join(kept[k:k + length]) for k in range(len(kept) - length + 1)
                 if tuple(kept[k:k + length]) in said]
        self.assertEqual(twice, [])

    @unittest.skipUnless(HAVE_MAN, "man is not installed")
    def test_the_page_renders_without_a_warning(self):
        done = render(MAN / "ephem-table.1")
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        # Every option of every command, as it is typed.
        for command, parser in generate.subcommands(cli.parser()).items():
            for action in generate.documented(parser):
                for option in action.option_strings:
                    self.assertIn(option, done.stdout, command)


class RoffTest(TestCase):
    """The generator's roff through man: help texts that roff would take for requests or escapes come out
    as they were written."""

    TEMPLATE = ".TH T 1\n.SH SYNOPSIS\n@SYNOPSIS@\n.SH DESCRIPTION\n@DESCRIPTION@\n.SH OPTIONS\n@OPTIONS@\n" \
               ".SH COMMANDS\n@COMMANDS@\n.SH EXAMPLES\n@EXAMPLES@\n.SH FIT\nfitted\n"

    def parser(self) -> Parser:
        p = Parser(prog="tricky", description=".leading dot\n\n" + "y" * 98 + " .wrapped\n\n'leading quote, a "
                                              "back\\slash and `quoted` (tricky(1), FIT)",
                   examples=(".hidden --x", "'quoted' \\\n  continued"))
        commands = p.add_subparsers(dest="command", metavar="COMMAND")
        sub = add_command(commands, "go", help="-1 below zero", description="Goes -- somewhere.",
                          examples=("tricky go -n 5",), manual=("FIT",))
        sub.add_argument("words", nargs="*", metavar="WORD", help="100%% of them")
        sub.add_argument("-n", "--number", required=True, metavar="N", help=".5 at least")
        sub.add_argument("--flag", action="store_true", help="'on")
        return p

    @unittest.skipUnless(HAVE_MAN, "man is not installed")
    def test_help_texts_come_out_as_written(self):
        # tricky(1) is not ephem-table(1): its citation stays as it is written.
        with tempfile.TemporaryDirectory() as tmp:
            page = pathlib.Path(tmp, "tricky.1")
            page.write_text(generate.page(self.TEMPLATE, self.parser()), encoding="utf-8")
            done = render(page)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        words = " ".join(done.stdout.split())
        cases = [
            # (what, words of the rendered page)
            ("a paragraph beginning with a dot", "DESCRIPTION .leading dot"),
            ("a dot at the start of a line of the page", "y" * 98 + " .wrapped"),
            ("a leading quote and a backslash", "'leading quote, a back\\slash and quoted (tricky(1), FIT)"),
            ("a verbatim line with a leading dot", ".hidden --x"),
            ("a one-line help", "go -1 below zero"),
            ("a double hyphen", "Goes -- somewhere."),
            ("a percent sign", "WORD ... 100% of them"),
            ("an option's help with a leading dot", "-n, --number N .5 at least"),
            ("an option's help with a leading quote", "--flag 'on"),
            ("a command's synopsis", "tricky go [WORD ...] -n N [--flag]"),
            ("the sections that tell more", "See FIT."),
        ]
        for what, text in cases:
            with self.subTest(what):
                self.assertIn(text, words)
        # Examples keep their lines and indents.
        lines = done.stdout.splitlines()
        quoted = next(k for k, line in enumerate(lines) if line.endswith("'quoted' \\"))
        self.assertEqual(lines[quoted + 1], lines[quoted].replace("'quoted' \\", "  continued"))

    def test_a_citation_of_the_page_is_a_see(self):
        self.assertEqual(generate.inline("the rest (ephem-table(1), TIME SCALES and FIT). Then"),
                         "the rest (see \\fBTIME SCALES\\fR and \\fBFIT\\fR). Then")


class GeneratorTest(TestCase):
    """man/generate.py run as a maintainer runs it, on a copy of the man folder beside the real tools."""

    def test_a_template_without_its_markers_is_refused_and_the_page_kept(self):
        good = (MAN / "ephem-table.1.in").read_text(encoding="utf-8")
        cases = [
            # (what, template or None for none, arguments, status, standard error)
            ("an unknown marker", good.replace("@OPTIONS@", "@OPTIONS@\n@OPTION@"), (), 1,
             "generate.py: {template}: unknown marker @OPTION@\n"),
            ("a marker left out", good.replace("@EXAMPLES@\n", ""), (), 1,
             "generate.py: {template}: no marker @EXAMPLES@\n"),
            ("a marker used twice", good.replace("@EXAMPLES@", "@EXAMPLES@\n@EXAMPLES@"), (), 1,
             "generate.py: {template}: marker @EXAMPLES@ used twice\n"),
            ("no template", None, (), 1,
             "generate.py: [Errno 2] No such file or directory: '{template}'\n"),
            ("two outputs", good, ("a", "b"), 2, generate.USAGE + "\n"),
            ("an option it does not take", good, ("--output",), 2, generate.USAGE + "\n"),
            ("an output in no folder", good, ("{man}/none/page.1",), 1,
             "generate.py: cannot write {man}/none/page.1: No such file or directory\n"),
        ]
        for what, template, args, status, message in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as tmp:
                os.symlink(TOOLS, os.path.join(tmp, "tools"))
                man = pathlib.Path(tmp, "man")
                man.mkdir()
                shutil.copy(MAN / "generate.py", man)
                if template is not None:
                    (man / "ephem-table.1.in").write_text(template, encoding="utf-8")
                (man / "ephem-table.1").write_bytes(b"the old page\n")
                args = tuple(arg.format(man=man) for arg in args)
                done = subprocess.run([sys.executable, str(man / "generate.py"), *args], capture_output=True,
                                      text=True, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"), check=False)
                self.assertEqual((done.returncode, done.stderr),
                                 (status, message.format(template=man / "ephem-table.1.in", man=man)))
                self.assertEqual(sorted(os.listdir(man)), sorted(["generate.py", "ephem-table.1"] +
                                                                 (["ephem-table.1.in"] if template else [])))
                self.assertEqual((man / "ephem-table.1").read_bytes(), b"the old page\n")


class HelpTest(TestCase):
    def test_help_wraps_its_paragraphs_to_the_terminal_and_keeps_its_examples(self):
        parser = cli.parser()
        for command, sub in [("", parser)] + list(generate.subcommands(parser).items()):
            with self.subTest(command or "ephem-table"):
                done = run_tool(*([command] if command else []), "--help", environment={"COLUMNS": "60"})
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                out = done.stdout
                examples = [line for example in sub.examples for line in example.split("\n")]
                self.assertTrue(examples)
                for line in examples:
                    self.assertIn(f"\n  {line}\n", out)
                # Lines past the width are examples, or a word longer than the line.
                long_lines = [line for line in out.splitlines() if len(line) > 58 and " " in line.strip()]
                self.assertEqual([line for line in long_lines if line[2:] not in examples
                                  and not re.match(r"^usage: |^ {10,}\[", line)], [])
                self.assertIn("ephem-table(1), ", out)


if __name__ == "__main__":
    unittest.main()
