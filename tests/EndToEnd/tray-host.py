#!/usr/bin/python3
"""A desktop panel's side of the StatusNotifierItem road: a watcher and a host on the session bus,
as a panel runs them, facing the real program on an X display.

usage: tray-host.py check PROGRAM WORK      the test: item, menu, clicks, pace, a late and a bad panel
       tray-host.py measure PROGRAM WORK    the menu's signals and the CPU time over one 1080p making
       tray-host.py panel                   a panel that comes now: ends 0 once an item registers

Run it inside `dbus-run-session` with DISPLAY set; WORK is an empty folder that becomes HOME."""

import os
import subprocess
import sys
import time
import urllib.request

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
failures = []


def fail(message):
    print("FAIL:", message, file=sys.stderr)
    failures.append(message)


def pump(seconds):
    """Runs the bus for a while: the program's calls and signals reach us only then."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.01)


def wait_for(condition, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        pump(0.05)
    return condition()


class Watcher(dbus.service.Object):
    """The watcher a panel owns. A garbage one refuses every item and answers its properties with
    values of the wrong types."""

    def __init__(self, garbage=False):
        self.garbage = garbage
        self.items = []
        super().__init__(bus, "/StatusNotifierWatcher")
        bus.request_name(WATCHER, dbus.bus.NAME_FLAG_DO_NOT_QUEUE)

    def leave(self):
        self.remove_from_connection()
        bus.release_name(WATCHER)

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        if self.garbage:
            raise dbus.exceptions.DBusException("no", name="org.example.Garbage")
        self.items.append(sender if service.startswith("/") else service)
        self.StatusNotifierItemRegistered(service)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    # Qt reads the properties through the interface's description, so that must name them.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return f"""<node><interface name="{WATCHER}">
          <method name="RegisterStatusNotifierItem"><arg direction="in" type="s"/></method>
          <method name="RegisterStatusNotifierHost"><arg direction="in" type="s"/></method>
          <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
          <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
          <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
          <property name="ProtocolVersion" type="i" access="read"/>
        </interface></node>"""

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if self.garbage:
            return {"IsStatusNotifierHostRegistered": "yes", "RegisteredStatusNotifierItems": dbus.Int32(7),
                    "ProtocolVersion": "zero"}
        return {"IsStatusNotifierHostRegistered": True, "ProtocolVersion": dbus.Int32(0),
                "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s")}


class MenuSignals:
    """Counts the exported menu's update signals, each of which makes a panel fetch it again."""

    def __init__(self):
        self.count = 0
        bus.add_signal_receiver(self.seen, dbus_interface=MENU, path="/MenuBar", member_keyword="member")

    def seen(self, *args, member=None):
        if member in ("LayoutUpdated", "ItemsPropertiesUpdated"):
            self.count += 1


class Program:
    def __init__(self, path, work, name):
        self.stderr_path = os.path.join(work, name + ".stderr")
        env = dict(os.environ, HOME=work, XDG_DATA_HOME=work + "/data", XDG_CONFIG_HOME=work + "/config",
                   XDG_RUNTIME_DIR=work + "/run", QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        self.env = env
        self.path = path
        self.process = subprocess.Popen([path], env=env, stderr=open(self.stderr_path, "w"))

    def said(self, text):
        with open(self.stderr_path, errors="replace") as said:
            return text in said.read()

    def serving(self):
        for port in (47615, 47616, 47617):
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/trelk/hello", timeout=2):
                    return True
            except OSError:
                pass
        return False

    def window_shown(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^vorlane Trelk$"],
                               capture_output=True, env=self.env)
        return found.returncode == 0

    def second_start(self):
        return subprocess.run([self.path], env=self.env, timeout=20, capture_output=True).returncode

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(20)


def item(watcher):
    return bus.get_object(watcher.items[-1], "/StatusNotifierItem")


def menu(watcher):
    return bus.get_object(watcher.items[-1], properties(watcher)["Menu"])


def properties(watcher):
    return item(watcher).GetAll(ITEM, dbus_interface=dbus.PROPERTIES_IFACE)


def menu_entries(watcher):
    """The exported menu as (label, enabled, shortcut) rows; "—" for a separator."""
    _, (_, _, children) = menu(watcher).GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
    rows = []
    for child in children:
        number, values, _ = child
        if values.get("type") == "separator":
            rows.append(("—", True, None))
            continue
        shortcut = ["+".join(keys) for keys in values.get("shortcut", [])]
        rows.append((str(values.get("label", "")).replace("_", ""), bool(values.get("enabled", True)),
                     shortcut[0] if shortcut else None, int(number)))
    return rows


def click(watcher, label):
    for row in menu_entries(watcher):
        if row[0] == label:
            menu(watcher).Event(dbus.Int32(row[3]), "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                                dbus_interface=MENU)
            return
    fail(f"no menu item {label}")


def make_master(work, name, size, seconds):
    path = os.path.join(work, name)
    # Not H.264, so that it is made, not taken as it is.
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"testsrc2=s={size}:r=25:d={seconds}",
                    "-c:v", "mpeg4", "-q:v", "8", path], check=True)
    return path


def drop(work, master):
    """Into "Drop here", already settled: its last change a minute ago."""
    folder = os.path.join(work, "Movies", "vorlane Library", "Drop here")
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, os.path.basename(master))
    os.link(master, target)
    past = time.time() - 60
    os.utime(target, (past, past))


def job_line(watcher):
    return [row[0] for row in menu_entries(watcher) if " · making " in row[0]]


def making_pace(watcher, signals, work, master):
    """The menu's signals per second while the master is made, and the making's seconds."""
    drop(work, master)
    if not wait_for(lambda: job_line(watcher), 120):
        fail("the menu never showed the making")
        return 0, 0
    before, start = signals.count, time.monotonic()
    wait_for(lambda: not job_line(watcher), 300)
    seconds = time.monotonic() - start
    return (signals.count - before) / max(seconds, 0.1), seconds


def check(program_path, work):
    signals = MenuSignals()
    master = make_master(work, "concert.mov", "1280x720", 12)

    # A panel that is there from the start.
    watcher = Watcher()
    program = Program(program_path, work, "first")
    if not wait_for(lambda: watcher.items):
        fail("the item never registered")
        program.stop()
        return
    wait_for(program.serving)
    found = properties(watcher)
    if found["Title"] != "vorlane Trelk":
        fail(f"the item's title is {found['Title']}")
    if found["ToolTip"][2] != "vorlane Trelk":
        fail(f"the tooltip reads {found['ToolTip'][2]}")
    sizes = sorted(int(width) for width, height, _ in found["IconPixmap"])
    if not {18, 36, 54} <= set(sizes):
        fail(f"the icon comes at {sizes}, not at 1×, 2× and 3×")
    if found["IconName"] not in ("", "vorlane-trelk"):
        fail(f"the icon is named {found['IconName']}")
    rows = menu_entries(watcher)
    labels = [row[0] for row in rows]
    expected = ["Media manager…", "Add masters…", "Open Drop here folder", "Open library folder",
                "Forget paired browsers", "—", "Check for updates…", "—", "Quit vorlane Trelk"]
    if labels[-len(expected):] != expected and labels[-len(expected):] != expected[:6] + ["Checking…"] + expected[7:]:
        fail(f"the menu reads {labels}")
    enabled = {row[0]: row[1] for row in rows}
    if not labels[0].startswith("vorlane Trelk ") or enabled[labels[0]] or enabled["Forget paired browsers"]:
        fail("the status lines or an unpaired forget are choosable")
    if (rows[-1][2] or "").lower() != "control+q":
        fail(f"Quit's shortcut is {rows[-1][2]}")

    pump(3)  # the update check's first answer changes the menu
    signals.count = 0
    pump(3)
    if signals.count:
        fail(f"{signals.count} menu updates in 3 s at rest")
    rate, seconds = making_pace(watcher, signals, work, master)
    print(f"menu updates while making: {rate:.1f}/s over {seconds:.1f} s")
    if rate > 4:
        fail(f"the menu was sent {rate:.1f} times a second while making")

    click(watcher, "Media manager…")
    if not wait_for(program.window_shown):
        fail("Media manager… opened no window")
    click(watcher, "Quit vorlane Trelk")
    try:
        if program.process.wait(20) != 0:
            fail(f"Quit ended the program with status {program.process.returncode}")
    except subprocess.TimeoutExpired:
        fail("Quit did not end the program")
    program.stop()

    # A left click brings up the window.
    program = Program(program_path, work, "activate")
    wait_for(lambda: len(watcher.items) >= 2)
    wait_for(program.serving)
    item(watcher).Activate(dbus.Int32(0), dbus.Int32(0), dbus_interface=ITEM)
    if not wait_for(program.window_shown):
        fail("a left click opened no window")
    program.stop()
    watcher.leave()

    # A panel that comes late, goes, comes back answering garbage, and comes back sound.
    program = Program(program_path, work, "late")
    if not wait_for(lambda: program.said("shows no tray") and program.window_shown()):
        fail("without a tray the window did not open, or the program did not say why")
    watcher = Watcher()
    if not wait_for(lambda: watcher.items):
        fail("a watcher that came late never got the item")
    watcher.leave()
    pump(1)
    watcher = Watcher(garbage=True)
    pump(2)
    watcher.leave()
    pump(1)
    watcher = Watcher()
    if not wait_for(lambda: watcher.items):
        fail("a watcher that came back never got the item")
    if program.process.poll() is not None or not program.serving():
        fail("the program stopped serving after the panel came and went")
    if program.second_start() != 0:
        fail("a second start did not hand over")
    if not program.window_shown():
        fail("the window is not reachable after the panel came and went")
    program.stop()
    watcher.leave()


def cpu_seconds(process_pid):
    with open(f"/proc/{process_pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(program_path, work):
    signals = MenuSignals()
    watcher = Watcher()
    master = make_master(work, "concert.mov", "1920x1080", 20)
    program = Program(program_path, work, "measure")
    wait_for(lambda: watcher.items)
    wait_for(program.serving)
    start = cpu_seconds(program.process.pid)
    rate, seconds = making_pace(watcher, signals, work, master)
    used = cpu_seconds(program.process.pid) - start
    print(f"tray: {rate:.1f} menu updates/s, {used:.2f} s CPU over a {seconds:.1f} s making")
    program.stop()

    # The same making by `serve` alone, from its start until it says the master is made.
    alone = work + "/alone"
    os.makedirs(alone)
    serve = subprocess.Popen([program_path, "serve"], env=dict(program.env, HOME=alone), stdout=subprocess.PIPE, text=True)
    wait_for(program.serving)
    start, began = cpu_seconds(serve.pid), time.monotonic()
    drop(alone, master)
    for line in serve.stdout:
        if line.startswith("made · ") or line.startswith("failed · "):
            break
    print(f"serve alone: {cpu_seconds(serve.pid) - start:.2f} s CPU over {time.monotonic() - began:.1f} s")
    serve.terminate()
    serve.wait(20)


def panel():
    watcher = Watcher()
    if not wait_for(lambda: watcher.items):
        fail("no item registered with a panel that came late")


if __name__ == "__main__":
    if sys.argv[1] == "panel":
        panel()
    else:
        mode, program_path, work = sys.argv[1:4]
        {"check": check, "measure": measure}[mode](program_path, work)
    sys.exit(1 if failures else 0)
