"""Walks the running demo panel's accessibility tree (see check-screen-reader)."""
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

warnings.simplefilter("ignore", DeprecationWarning)


def panel_window():
    for _ in range(100):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            for j in range(app.get_child_count() if app else 0):
                window = app.get_child_at_index(j)
                if window and "CONTROL" in (window.get_name() or ""):
                    return window
        time.sleep(0.1)
    return None


def walk(node, depth=0):
    yield depth, node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child:
            yield from walk(child, depth + 1)


window = panel_window()
if window is None:
    sys.exit("the panel did not appear on the accessibility bus")

nodes = list(walk(window))
nameless = []
for depth, node in nodes:
    name = node.get_name() or ""
    description = node.get_description() or ""
    print("  " * depth + f'{node.get_role_name()}: "{name}"' + (f"  [{description}]" if description else ""))
    if not name.strip():
        nameless.append(node.get_role_name())
print(f"{len(nodes)} objects, {len(nameless)} nameless")

status = next(n for _, n in nodes if n.get_role_name() == "push button" and n.get_name() == "STATUS")
action = status.get_action_iface()
names = [action.get_action_name(i) for i in range(action.get_n_actions())]
action.do_action(names.index("Press"))
time.sleep(1.0)
for _, node in nodes:
    if node.get_role_name() == "label" and (node.get_name() or "").startswith(("TXD:", "RXD:", "STATUS:")):
        print("after pressing STATUS:", node.get_name())
sys.exit(1 if nameless else 0)
