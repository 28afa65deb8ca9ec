"""The staged data/ folder in the package. The engine's data/ holds whatever
the app's build made, so it is listed at packaging time rather than by hand.

    data_files.py fragment <staged data folder> <output .wxs>
    data_files.py names <msi> <staged data folder>

fragment writes the WiX fragment: one component per file under DirectoryRef
DataFolder, grouped as ComponentGroup DataFiles. Component GUIDs are derived
from the file's path inside data/, so the same file keeps its component
from one version to the next.

names gives the built package the UTF-8 code page and writes every file and
folder name of data/ into it exactly (wixl has no code page setting and
writes a name outside Latin-1 as an empty one), then reads them back.
msibuild and msiinfo come from ORVALIN_MSIBUILD and ORVALIN_MSIINFO (or
PATH). Either command stops, naming the file, at a name the package cannot
hold.
"""

import hashlib
import os
import subprocess
import sys
import tempfile
import uuid
from pathlib import Path
from xml.sax.saxutils import quoteattr

# Fixed namespace for this product's data components.
NAMESPACE = uuid.UUID("55122998-3638-4412-BA03-99EDAE6BFFC2")
# What Windows refuses in a file name (and "|" separates a short name).
FORBIDDEN = set('\\/:*?"<>|') | {chr(c) for c in range(32)}


class Unheld(Exception):
    """A name the package cannot hold; the message names the file."""


def shown(relative):
    """The path as the file system spells it, for a message."""
    return os.fsencode(relative).decode("utf-8", "backslashreplace")


def check_name(relative, name):
    try:
        name.encode("utf-8")  # undecodable bytes come as lone surrogates
    except UnicodeEncodeError:
        raise Unheld(f"data/{shown(relative)}: the name is not valid UTF-8")
    if FORBIDDEN & set(name) or name.endswith((" ", ".")):
        raise Unheld(f"data/{shown(relative)}: Windows does not allow this "
                     f"name")


def identifier(kind, relative):
    """A table key for a path: WiX ids allow 72 characters of [A-Za-z0-9_.]."""
    digest = hashlib.sha1(relative.lower().encode("utf-8")).hexdigest()
    return f"{kind}_{digest[:32]}"


def walk(folder, root):
    """(entry, relative path, children or None for a file), depth first in
    name order; every name is checked on the way."""
    for entry in sorted(folder.iterdir(), key=lambda p: p.name):
        relative = entry.relative_to(root).as_posix()
        check_name(relative, entry.name)
        if entry.is_dir():
            yield entry, relative, list(walk(entry, root))
        else:
            yield entry, relative, None


def component(pad, relative, body, components):
    """A component whose key path is its file, or its folder when empty."""
    name = identifier("c", relative)
    guid = str(uuid.uuid5(NAMESPACE, relative.lower())).upper()
    components.append(name)
    # The folder goes on uninstall once it is empty.
    return [f"{pad}<Component Id={quoteattr(name)} Guid=\"{guid}\" "
            f"Win64=\"yes\">", *[f"{pad}  {line}" for line in body],
            f"{pad}  <RemoveFolder Id={quoteattr(identifier('r', relative))} "
            f"On=\"uninstall\"/>", f"{pad}</Component>"]


def directory(tree, lines, components, depth):
    pad = "  " * depth
    for entry, relative, children in tree:
        if children is None:
            lines += component(pad, relative, [
                f"<File Id={quoteattr(identifier('f', relative))} "
                f"Name={quoteattr(entry.name)} KeyPath=\"yes\" "
                f"Source={quoteattr('$(var.Stage)/data/' + relative)}/>"],
                components)
            continue
        lines.append(f"{pad}<Directory Id={quoteattr(identifier('d', relative))} "
                     f"Name={quoteattr(entry.name)}>")
        if not children:
            # An empty folder is still part of the layout the engine expects.
            lines += component(pad + "  ", relative + "/", ["<CreateFolder/>"],
                               components)
        directory(children, lines, components, depth + 1)
        lines.append(f"{pad}</Directory>")


def fragment(data, output):
    lines, components = [], []
    directory(list(walk(Path(data), Path(data))), lines, components, 3)
    text = ['<?xml version="1.0" encoding="utf-8"?>',
            '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
            '  <Fragment>',
            '    <DirectoryRef Id="DataFolder">',
            *lines,
            '    </DirectoryRef>',
            '    <ComponentGroup Id="DataFiles">',
            *[f'      <ComponentRef Id="{c}"/>' for c in components],
            '    </ComponentGroup>',
            '  </Fragment>',
            '</Wix>', '']
    Path(output).write_text("\n".join(text), encoding="utf-8")


# ---------------------------------------------------------------- names

# The table each kind of entry is in, and the column holding its name.
TABLES = {"File": 2, "Directory": 2}


def expected_names(data):
    """{table: {row key: (relative path, name)}} for everything in data/."""
    names = {table: {} for table in TABLES}

    def visit(tree):
        for entry, relative, children in tree:
            table, kind = ("File", "f") if children is None else \
                ("Directory", "d")
            names[table][identifier(kind, relative)] = (relative, entry.name)
            visit(children or [])

    visit(walk(Path(data), Path(data)))
    return names


def export(msi, table):
    """The table's lines in the interchange format (UTF-8 once the package
    has that code page)."""
    result = subprocess.run(
        [os.environ.get("ORVALIN_MSIINFO", "msiinfo"), "export", msi, table],
        capture_output=True, check=True)
    return result.stdout.decode("utf-8").split("\r\n")


def msibuild(msi, idt):
    subprocess.run([os.environ.get("ORVALIN_MSIBUILD", "msibuild"), msi,
                    "-i", idt], check=True, capture_output=True)


def rows(lines):
    """The data rows (after three header lines) as lists of columns."""
    return [line.split("\t") for line in lines[3:] if line]


def names(msi, data):
    expected = expected_names(data)
    with tempfile.TemporaryDirectory() as folder:
        codepage = Path(folder, "_ForceCodepage.idt")
        codepage.write_bytes(b"\r\n\r\n65001\t_ForceCodepage\r\n")
        msibuild(msi, codepage)
        for table, column in TABLES.items():
            lines = export(msi, table)
            table_rows = rows(lines)
            for row in table_rows:
                if row[0] in expected[table]:
                    row[column] = expected[table][row[0]][1]
            idt = Path(folder, f"{table}.idt")
            idt.write_bytes("\r\n".join(
                lines[:3] + ["\t".join(row) for row in table_rows] + [""])
                .encode("utf-8"))
            msibuild(msi, idt)
    for table, column in TABLES.items():
        held = {row[0]: row[column] for row in rows(export(msi, table))}
        for key, (relative, name) in expected[table].items():
            if held.get(key) != name:
                raise Unheld(f"data/{shown(relative)}: the package holds the "
                             f"name as {held.get(key)!r}")


if __name__ == "__main__":
    commands = {"fragment": fragment, "names": names}
    if len(sys.argv) != 4 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    try:
        commands[sys.argv[1]](*sys.argv[2:])
    except Unheld as error:
        sys.exit(f"package: the installer cannot hold the file name {error}")
    except subprocess.CalledProcessError as error:
        sys.exit(f"package: {Path(error.cmd[0]).name} failed on "
                 f"{error.cmd[1]}: {error.stderr.decode(errors='replace')}")
