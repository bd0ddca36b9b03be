# Sphinx settings of the tavio32 manual and reference (scripts/docs.sh builds
# them: HTML and section-3 manual pages). Markdown through MyST; the theme is
# Sphinx's own alabaster, so nothing beyond Debian's python3-sphinx and
# python3-myst-parser is needed, and nothing is fetched.
#
# At the start of every build the command's manual pages (man/tavio32.1,
# man/tavio32-sim.1) are rendered to plain text into _generated/, which the
# manual's command chapter includes: their text is written once, in man/.
import os
import re
import subprocess

docs = os.path.dirname(os.path.abspath(__file__))
top = os.path.dirname(docs)

project = "tavio32"
author = "the tavio32 developers"
copyright = "the tavio32 developers"
version = release = "1.22"

extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
root_doc = "index"
myst_heading_anchors = 2
exclude_patterns = ["_generated", "_build"]
language = "en"
# Code blocks are C unless they say otherwise; no highlighting guesses.
highlight_language = "c"

html_theme = "alabaster"
html_title = "tavio32 1.22"
html_show_sourcelink = False
html_copy_source = False
html_theme_options = {"nosidebar": False, "fixed_sidebar": False, "show_powered_by": False}

# The reference's families, each a section-3 page tavio32-FAMILY(3); a page
# NAME.3 per function points at its family's (scripts/docs.sh makes those).
families = [
    ("primary-port", "the primary port: open, bytes, strings, time-outs, lines"),
    ("port-table", "eight ports at once: the IX_ functions on slots 0 to 7"),
    ("interfaces", "the measurement interfaces: selection, opening, detection"),
    ("io", "digital and analog input and output"),
    ("zelle-sios", "the Zelle's and the Sios's commands: battery, button, status, registers, RAM"),
    ("block-mode", "block measurement: definition, recording, readout, files"),
    ("timing", "the stopwatch, busy waits and the RC discharge"),
    ("keyboard", "key hits on the process's terminal"),
    ("version", "the version, message handler and readout progress hooks"),
]


def function_names(family):
    """The `## NAME` headings of a family's file, in their order."""
    path = os.path.join(docs, "reference", family + ".md")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return re.findall(r"^## +([A-Za-z_][A-Za-z_0-9]*) *$", f.read(), re.M)


man_pages = [("reference/index", "tavio32", "the tavio32 library: serial ports and measurement interfaces", [author], 3)]
for family, about in families:
    names = function_names(family)
    about = "%s (%s)" % (about, ", ".join(names)) if names else about
    man_pages.append(("reference/" + family, "tavio32-" + family, about, [author], 3))
man_make_section_directory = True
man_show_urls = False


def render_command_pages(app, config):
    """man/*.1 as plain text (80 columns) into _generated/, rewritten only
    when it changed, so that an unchanged build stays unchanged."""
    out = os.path.join(docs, "_generated")
    os.makedirs(out, exist_ok=True)
    for page in ("tavio32.1", "tavio32-sim.1"):
        source = os.path.join(top, "man", page)
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        try:
            run = subprocess.run(["groff", "-t", "-man", "-Tutf8", "-rLL=78n", "-P-c", source],
                                 env=env, capture_output=True, check=True)
        except (OSError, subprocess.CalledProcessError) as e:
            raise RuntimeError("cannot render %s with groff (Debian: groff-base): %s" % (source, e))
        text = run.stdout.decode("utf-8")
        text = re.sub(".\b", "", text)  # overstrike (bold, underline) removed
        text = "\n".join(line.rstrip() for line in text.splitlines()).strip("\n") + "\n"
        text = re.sub(r"\n{3,}", "\n\n", text)
        target = os.path.join(out, page + ".txt")
        old = None
        if os.path.exists(target):
            with open(target, encoding="utf-8") as f:
                old = f.read()
        if old != text:
            with open(target, "w", encoding="utf-8") as f:
                f.write(text)


def overview_without_families(app, doctree):
    """tavio32(3) is the reference's introduction and table only: the man
    builder would otherwise inline every family into it."""
    if app.builder.name == "man" and app.env.docname == "reference/index":
        from sphinx import addnodes
        for node in list(doctree.findall(addnodes.toctree)):
            wrapper = node.parent if node.parent.get("classes") == ["toctree-wrapper"] else node
            wrapper.parent.remove(wrapper)


def setup(app):
    app.connect("config-inited", render_command_pages)
    # After the table of contents has been collected (priority 500).
    app.connect("doctree-read", overview_without_families, priority=900)
