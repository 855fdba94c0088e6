"""What the end-to-end tests share: running the tool and reading back what it wrote. The
archives themselves come from the test-archive generator (tests/fixtures/make_fixtures.py),
imported here as `fixtures`."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import make_fixtures as fixtures  # noqa: E402,F401


def run(tool, args, cwd, env=None, timeout=300, **popen):
    """Runs the tool in cwd: its status and everything it printed (both streams, as text)."""
    p = subprocess.run([tool] + args, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=timeout, **popen)
    return p.returncode, p.stdout.decode("latin-1")


def files_under(root):
    """Every file below root: its path relative to root and its bytes."""
    found = {}
    for base, _, names in os.walk(root):
        for n in names:
            path = os.path.join(base, n)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found
