#!/usr/bin/env python3
"""What a screen reader learns of the combo boxes, read over the accessibility
bus as screen readers read it: each names its label and shows its chosen item
as its text. Runs the real program with a Telnet window open to a loopback
peer, then opens the TLS window. Usage (inside a display and a session bus): atspi_combos.py KORVO"""
import os
import socket
import subprocess
import sys
import tempfile
import time

failures = []


def wait(condition, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    return None


def check(what, expected, actual):
    if expected != actual:
        failures.append(f'{what}: expected {expected!r}, got {actual!r}')


def bus_ready():
    # Asking for the address starts the bus, the session bus activating it.
    return subprocess.run(['dbus-send', '--session', '--print-reply', '--dest=org.a11y.Bus', '/org/a11y/bus',
                           'org.a11y.Bus.GetAddress'], capture_output=True).returncode == 0


# A home of its own: the disclaimer accepted, a private runtime folder.
home = tempfile.TemporaryDirectory()
os.makedirs(os.path.join(home.name, '.config', 'MerrowSystems'))
os.makedirs(os.path.join(home.name, 'run'), mode=0o700)
with open(os.path.join(home.name, '.config', 'MerrowSystems', 'korvo.conf'), 'w') as profile:
    profile.write('[SETTINGS]\nAGREEMENT=1\n')
os.environ.update(HOME=home.name, XDG_RUNTIME_DIR=os.path.join(home.name, 'run'))
os.environ.pop('XDG_CONFIG_HOME', None)

if not wait(bus_ready, 10):
    sys.exit('atspi_combos: the accessibility bus did not start')
import pyatspi  # noqa: E402 (needs the bus started above)

korvo = subprocess.Popen([sys.argv[1]], env=dict(os.environ, QT_QPA_PLATFORM='xcb',
                                                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1'))


def find(root, pred):
    try:
        if pred(root):
            return root
        for i in range(root.childCount):
            found = find(root.getChildAtIndex(i), pred)
            if found is not None:
                return found
    except Exception:
        pass
    return None


def role_and_name(role, name):
    return lambda a: a.getRoleName() == role and (name is None or a.name == name)


def program():
    desktop = pyatspi.Registry.getDesktop(0)
    return find(desktop, lambda a: a.getRoleName() == 'application' and 'korvo' in (a.name or ''))


def combo_reading(combo):
    """(name, text, names of the labels it is labelled by)"""
    text = None
    if 'Text' in pyatspi.listInterfaces(combo):
        t = combo.queryText()
        text = t.getText(0, t.characterCount)
    labels = [r.getTarget(i).name for r in combo.getRelationSet()
              if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]
    return combo.name, text, labels


try:
    app = wait(program)
    main = app and wait(lambda: find(app, role_and_name('dialog', None)))
    if not main:
        desktop = pyatspi.Registry.getDesktop(0)
        seen = [desktop.getChildAtIndex(i).name for i in range(desktop.childCount)]
        sys.exit(f'atspi_combos: the main window did not appear on the bus (programs: {seen}, '
                 f'korvo exit status: {korvo.poll()})')
    mode = wait(lambda: find(main, role_and_name('combo box', None)))
    check('mode combo', ('Connection Mode', 'TCP Client', []), combo_reading(mode))

    # The TLS window, from its shortcut (Ctrl+T) while the main window is the
    # active one.
    for key, kind in ((37, pyatspi.KEY_PRESS), (28, pyatspi.KEY_PRESSRELEASE), (37, pyatspi.KEY_RELEASE)):
        pyatspi.Registry.generateKeyboardEvent(key, None, kind)
    tls = wait(lambda: find(app, role_and_name('dialog', 'TLS')))
    if not tls:
        sys.exit('atspi_combos: the TLS window did not appear on the bus')
    version = wait(lambda: find(tls, role_and_name('combo box', None)))
    check('TLS version combo', ('Minimum version', 'TLS 1.2', ['Minimum version:']), combo_reading(version))

    listener = socket.socket()
    listener.bind(('127.0.0.1', 0))
    listener.listen(1)
    find(main, role_and_name('text', 'Remote Host Address')).queryEditableText().setTextContents('127.0.0.1')
    find(main, role_and_name('text', 'Remote Host Port')).queryEditableText().setTextContents(
        str(listener.getsockname()[1]))
    find(main, role_and_name('push button', 'Telnet')).queryAction().doAction(0)
    telnet = wait(lambda: find(app, role_and_name('dialog', 'Telnet')))
    if not telnet:
        sys.exit('atspi_combos: the Telnet window did not appear on the bus')
    wait(lambda: find(telnet, role_and_name('combo box', None)))
    combos = [telnet.getChildAtIndex(i) for i in range(telnet.childCount)]
    combos = [c for c in combos if c.getRoleName() == 'combo box']
    check('Telnet combos', [('Send', 'CR -> CR+LF', ['Send']), ('Receive', "Don't Convert", ['Receive'])],
          sorted((combo_reading(c) for c in combos), reverse=True))
    find(telnet, role_and_name('push button', 'Close')).queryAction().doAction(0)
finally:
    korvo.kill()

for failure in failures:
    print('atspi_combos:', failure)
sys.exit(1 if failures else 0)
