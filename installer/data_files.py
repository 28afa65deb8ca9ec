"""Writes the WiX fragment for the staged data/ folder: one component per
file under DirectoryRef DataFolder, grouped as ComponentGroup DataFiles.
The engine's data/ holds whatever the app's build made, so it is listed at
packaging time rather than by hand.

    data_files.py <staged data folder> <output .wxs>

Component GUIDs are derived from the file's path inside data/, so the same
file keeps its component from one version to the next.
"""

import hashlib
import sys
import uuid
from pathlib import Path
from xml.sax.saxutils import quoteattr

# Fixed namespace for this product's data components.
NAMESPACE = uuid.UUID("55122998-3638-4412-BA03-99EDAE6BFFC2")


def identifier(kind, relative):
    """A table key for a path: WiX ids allow 72 characters of [A-Za-z0-9_.]."""
    digest = hashlib.sha1(relative.lower().encode("utf-8")).hexdigest()
    return f"{kind}_{digest[:32]}"


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


def directory(folder, root, lines, components, depth):
    pad = "  " * depth
    entries = sorted(folder.iterdir(), key=lambda p: p.name)
    if not entries and folder != root:
        # An empty folder is still part of the layout the engine expects.
        lines += component(pad, folder.relative_to(root).as_posix() + "/",
                           ["<CreateFolder/>"], components)
    for entry in entries:
        relative = entry.relative_to(root).as_posix()
        if entry.is_dir():
            lines.append(f"{pad}<Directory Id={quoteattr(identifier('d', relative))} "
                         f"Name={quoteattr(entry.name)}>")
            directory(entry, root, lines, components, depth + 1)
            lines.append(f"{pad}</Directory>")
        else:
            lines += component(pad, relative, [
                f"<File Id={quoteattr(identifier('f', relative))} "
                f"Name={quoteattr(entry.name)} KeyPath=\"yes\" "
                f"Source={quoteattr('$(var.Stage)/data/' + relative)}/>"],
                components)


def main(data, output):
    data = Path(data)
    lines, components = [], []
    directory(data, data, lines, components, 3)
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


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
