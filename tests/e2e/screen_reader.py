#!/usr/bin/python3
# As a screen reader finds Kopyra over AT-SPI: the copy button by its name, pressed through its
# action; the feedback line after the copy heard as it changed (the event a screen reader speaks
# without the user moving focus) and read back. Prints what it read; exits 1 with the reason
# when something is not found.
#   screen_reader.py SECONDS
import sys
import time

import pyatspi
from gi.repository import GLib

heard = []  # names that changed by themselves, as a screen reader is told them


def on_name_changed(event):
    try:
        heard.append(event.source.name or "")
    except Exception:
        pass


def pump():
    """Lets the events that arrived meanwhile reach their listeners."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def nodes(root):
    """Every accessible below root, breadth first."""
    queue = [root]
    while queue:
        node = queue.pop(0)
        if node is None:
            continue
        yield node
        try:
            queue.extend(node[i] for i in range(node.childCount))
        except Exception:  # a node that went away meanwhile
            pass


def wait_for(seconds, find):
    end = time.time() + seconds
    while time.time() < end:
        pump()
        found = find()
        if found is not None:
            return found
        time.sleep(0.3)
    return None


def kopyra():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name.lower() == "kopyra":
            return app
    return None


def named(app, role, words):
    for node in nodes(app):
        if node.getRoleName() == role and words in (node.name or ""):
            return node
    return None


patience = float(sys.argv[1]) if len(sys.argv) > 1 else 60
app = wait_for(20, kopyra)
if app is None:
    sys.exit("Kopyra is not on the accessibility bus")
button = wait_for(10, lambda: named(app, "push button", "Kopieren"))
if button is None or button.name != "Kopieren":
    sys.exit("no push button named Kopieren: %r" % [n.name for n in nodes(app)
                                                     if n.getRoleName() == "push button"])
print("button:", button.name, "/", button.description)
pyatspi.Registry.registerEventListener(on_name_changed, "object:property-change:accessible-name")
action = button.queryAction()
names = [action.getName(i) for i in range(action.nActions)]
action.doAction(names.index("Press") if "Press" in names else 0)
line = wait_for(patience, lambda: named(app, "label", "gesendet"))
if line is None:
    sys.exit("no feedback line over AT-SPI")
print("feedback:", line.name)
said = wait_for(10, lambda: next((h for h in heard if "gesendet" in h), None))
if said is None:
    sys.exit("the feedback line's change was not told: %r" % heard)
print("heard:", said)
