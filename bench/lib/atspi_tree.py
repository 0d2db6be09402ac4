# SPDX-License-Identifier: GPL-3.0-or-later
"""What a screen reader sees of a running panel: its AT-SPI tree, one line per object that shows
(role, name, description, value), and a check that every control that takes the keyboard focus has
a name (its own, or its label's) and a description, and that every level meter has a value.

    /usr/bin/python3 bench/lib/atspi_tree.py APP_NAME
Exit status 1 when a check fails."""
import sys

import pyatspi


def name_of(node):
    if node.name:
        return node.name
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return ""


def walk(node, depth, problems):
    states = node.getState()
    if not states.contains(pyatspi.STATE_SHOWING):
        return
    role = node.getRoleName()
    value = ""
    try:
        value = " value=%g" % node.queryValue().currentValue
    except NotImplementedError:
        pass
    name = name_of(node)
    print("%s%s \"%s\"%s%s" % ("  " * depth, role, name, value,
                               " - " + node.description if node.description else ""))
    # The entries of a list and the text field inside a combo box belong to their control.
    if states.contains(pyatspi.STATE_FOCUSABLE) and role not in ("text", "list item"):
        if not name or not node.description:
            problems.append("%s \"%s\" has no %s" % (role, name, "name" if not name else "description"))
    if role == "progress bar" and not value:
        problems.append("meter \"%s\" has no value" % name)
    for child in node:
        if child is not None:
            walk(child, depth + 1, problems)


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [app for app in desktop if app is not None and app.name == sys.argv[1]]
    if not apps:
        print("atspi-tree: no application \"%s\" on the bus (%s)" % (sys.argv[1], [a.name for a in desktop if a is not None]))
        return 1
    problems = []
    walk(apps[0], 0, problems)
    for problem in problems:
        print("PROBLEM: " + problem)
    print("atspi-tree: %d problems" % len(problems))
    return 1 if problems else 0


sys.exit(main())
