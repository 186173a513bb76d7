"""The manual pages in packaging/man: each renders without a single warning, and none falls
behind its program: every sub-command and option that a program's usage text names, and every
line of kelvora.cfg that the configuration code knows, is described in its page."""

import os
import pathlib
import re
import shutil
import subprocess
import tempfile

import pytest

from kelvora_env import REPO, binary

MAN_DIR = REPO / "packaging" / "man"
PAGES = ["vornd.8", "kelvora.8", "Torvane.8", "upsrec.8", "Kelvora.1", "vorn.ini.5",
         "kelvora.cfg.5"]
RENDER_ENV = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")


def program(var, *path):
    """A built program: $VAR, else under $KELVORA_BUILD, else the default build tree."""
    if os.environ.get(var):
        found = os.environ[var]
    elif os.environ.get("KELVORA_BUILD"):
        found = str(pathlib.Path(os.environ["KELVORA_BUILD"]).joinpath(*path))
    else:
        found = binary(var, *path)
    assert os.access(found, os.X_OK), f"{found} is not built (set {var} or KELVORA_BUILD)"
    return found


KELVORA = program("KELVORA", "linux", "console", "kelvora")
TORVANE = program("TORVANE", "windows", "service", "Torvane")
UPSREC = program("UPSREC", "tools", "upsrec", "upsrec")


def man_tool():
    path = shutil.which("man")
    assert path, "man is not installed (apt-get install man-db groff-base)"
    return path


def render_text(page):
    """The page as a reader sees it, on one long line per paragraph, formatting removed."""
    env = dict(RENDER_ENV, MANWIDTH="400")
    # (No -T: with a device named, man keeps its own line length and ignores MANWIDTH.)
    out = subprocess.run([man_tool(), "-E", "UTF-8", "-l", str(MAN_DIR / page)],
                         env=env, capture_output=True, text=True, check=True).stdout
    out = re.sub(r".\x08", "", out)
    out = re.sub(r"\x1b\[[0-9;]*m", "", out)
    for dash in ("\u2010", "\u2011", "\u2212"):
        out = out.replace(dash, "-")
    return out


def mentions(text, word):
    """`word` stands in `text` as a word of its own (not inside a longer name)."""
    return re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", text) is not None


def missing_from(page, words):
    text = render_text(page)
    return sorted(w for w in set(words) if not mentions(text, w))


# --- (a) every page renders cleanly -------------------------------------------------------------

def test_the_pages_are_all_there():
    found = sorted(p.name for p in MAN_DIR.iterdir() if p.is_file())
    assert sorted(PAGES) == found


@pytest.mark.parametrize("page", sorted(p.name for p in MAN_DIR.iterdir() if p.is_file()))
def test_page_renders_without_warnings(page):
    r = subprocess.run([man_tool(), "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                        str(MAN_DIR / page)], env=RENDER_ENV, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert r.stderr == "", f"{page}:\n{r.stderr}"
    assert r.stdout.strip(), f"{page} renders to nothing"
    text = render_text(page)
    for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "SEE ALSO"):
        assert re.search(rf"^{section}$", text, re.M), f"{page} has no {section} section"
    lexgrog = shutil.which("lexgrog")
    assert lexgrog, "lexgrog is not installed (apt-get install man-db)"
    names = subprocess.run([lexgrog, str(MAN_DIR / page)], capture_output=True, text=True)
    assert names.returncode == 0, f"lexgrog finds no NAME line in {page}: {names.stdout}"
    name = page.rsplit(".", 1)[0]
    assert f'"{name} - ' in names.stdout, names.stdout


# --- (b) the pages keep up with the programs ----------------------------------------------------

def usage_words(line):
    """The sub-commands and options a usage line names: lower-case words and -options, not the
    upper-case placeholders (FILE, KIND) nor FIELD=VALUE."""
    return [w for w in re.split(r"[\s\[\]|,]+", line)
            if re.fullmatch(r"--?[a-z][a-z0-9-]*|[a-z][a-z0-9-]*", w)]


def test_kelvora_page_names_every_sub_command():
    r = subprocess.run([KELVORA], capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert r.returncode == 1
    usage = r.stdout
    listed = re.search(r"\[([a-z|]+)\]", usage).group(1).split("|")
    described = re.findall(r"^\s+kelvora (\w+)\s+- ", usage, re.M)
    assert len(listed) >= 6 and set(described) == set(listed), usage
    # The debug switches are not in the usage text: the dispatcher's own list has them.
    source = (REPO / "linux" / "console" / "main.cpp").read_text()
    dispatched = re.findall(r'arg == "(\w+)"', source)
    assert set(listed) <= set(dispatched) and len(dispatched) >= 10, dispatched
    assert missing_from("kelvora.8", listed + dispatched) == []


def test_torvane_page_names_every_option():
    r = subprocess.run([TORVANE, "-h"], capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert r.returncode == 2
    usage = r.stderr.strip()
    assert usage.startswith("usage: Torvane"), usage
    options = [w for w in usage_words(usage) if w.startswith("-")]
    assert {"--service", "-v", "-i", "-u"} <= set(options), usage
    assert missing_from("Torvane.8", options) == []
    text = render_text("Torvane.8")
    assert usage in text.replace("\n", " "), "the usage line is not quoted as printed"


def test_torvane_page_names_every_environment_variable():
    sources = [*(REPO / "windows" / "service").rglob("*.cpp"), *(REPO / "ups_lib").rglob("*.cpp"),
               *(REPO / "windows" / "helpers").glob("*.cpp")]
    names = set()
    for path in sources:
        if path.name.endswith("_test.cpp"):
            continue
        names.update(re.findall(r'(?:getenv|Env)\("(TORVANE_\w+)"\)',
                                path.read_text(errors="replace")))
    assert {"TORVANE_HOME", "TORVANE_REGISTRY", "TORVANE_TRACE"} <= names, names
    assert missing_from("Torvane.8", names) == []


def test_upsrec_page_names_every_sub_command_and_option():
    r = subprocess.run([UPSREC, "--help"], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    words = set()
    for line in r.stdout.splitlines():
        if line.startswith(("usage:", "       upsrec", "KIND:", "  ")):
            words.update(usage_words(line))
    words -= {"usage", "upsrec"}
    assert {"show", "defaults", "set", "--agent", "--password", "--json", "--timeout",
            "config", "eventlog", "test10", "clear-datalog"} <= words, sorted(words)
    assert missing_from("upsrec.8", words) == []


def test_upsrec_page_names_every_config_field():
    with tempfile.TemporaryDirectory() as registry:
        env = dict(os.environ, TORVANE_REGISTRY=registry, TORVANE_HOME=registry)
        r = subprocess.run([UPSREC, "show", "config"], env=env, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    fields = re.findall(r"^(\w+)\s", r.stdout, re.M)
    assert len(fields) >= 20, r.stdout
    assert missing_from("upsrec.8", fields) == []


def config_lines():
    """The lines of kelvora.cfg as the configuration code writes them: label and comment."""
    source = (REPO / "linux" / "common" / "config_fields.h").read_text()
    lines = re.findall(r'"([^"\n]*\([^"\n]*\)\s*: \[%[^\]]*\]\\n)"', source)
    assert len(lines) == 11, lines
    return [line.split(":")[0].rstrip() for line in lines]


def test_kelvora_cfg_page_describes_every_line():
    text = render_text("kelvora.cfg.5")
    for line in config_lines():
        label = line.split("(")[0].strip()
        comment = "(" + line.split("(", 1)[1]
        # The setting's own entry, and the line as the programs write it.
        assert re.search(rf"^ {{7}}{re.escape(label)}$", text, re.M), f"no entry for {label!r}"
        assert line in text, f"the line {line!r} is not shown as written"
        assert comment in text
