#!/usr/bin/python3
"""atspi_probe.py tree|focus APP: from the AT-SPI registry, as a screen reader reads it, every object
below APP depth first, or its innermost focused one: role|name|description|showing|x|y|width|height."""
import sys

import pyatspi


def descendants(obj):
    for child in filter(None, obj):
        yield child
        yield from descendants(child)


def main(command, name):
    apps = [app for app in filter(None, pyatspi.Registry.getDesktop(0)) if app.name == name]
    objects = list(descendants(apps[0])) if apps else []
    if command == "focus":
        objects = [obj for obj in objects if obj.getState().contains(pyatspi.STATE_FOCUSED)][-1:]
    for obj in objects:
        box = obj.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        showing = obj.getState().contains(pyatspi.STATE_SHOWING)
        print("|".join(map(str, [obj.getRoleName(), obj.name, obj.description, int(showing),
                                 box.x, box.y, box.width, box.height])))
    return 0 if apps else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
