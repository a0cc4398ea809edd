"""Reads the shell's accessibility tree on the bus DBUS_SESSION_BUS_ADDRESS names.
  a11y.py dump               one line per node: depth, role, name, value (or -), focused or focusable, text
  a11y.py press NAME         does the first action of the node named NAME
Run with Debian's Python (pyatspi is a Debian package)."""
import sys

import pyatspi


def nodes(node, depth=0):
    yield depth, node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child, depth + 1)


def shell():
    desktop = pyatspi.Registry.getDesktop(0)
    return [app for app in desktop if app is not None and "corvidale" in app.name.lower()]


def text(node):
    try:
        reader = node.queryText()
        return reader.getText(0, reader.characterCount)
    except NotImplementedError:
        return ""


def value(node):
    try:
        return "%.3f" % node.queryValue().currentValue
    except NotImplementedError:
        return "-"


if sys.argv[1] == "dump":
    for app in shell():
        for depth, node in nodes(app):
            states = node.getState()
            focus = "focused" if states.contains(pyatspi.STATE_FOCUSED) else (
                "focusable" if states.contains(pyatspi.STATE_FOCUSABLE) else "")
            print(depth, node.getRoleName(), repr(node.name), value(node), focus, repr(text(node)), sep="\t")
elif sys.argv[1] == "press":
    for app in shell():
        for _, node in nodes(app):
            if node.name == sys.argv[2]:
                node.queryAction().doAction(0)
                sys.exit(0)
    sys.exit(1)
