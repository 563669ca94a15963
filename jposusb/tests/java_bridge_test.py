#!/usr/bin/env python3
"""The Linux bridge as a JavaPOS service uses it: a Java program calls the
natives of libKorvaJposUsb.so, which finds and reads a simulated hidraw
scanner. The hidraw paths are redirected to a folder of this test by an
LD_PRELOAD library; the scanner is a SOCK_SEQPACKET socket, so each report
stays a message of its own, as hidraw delivers it."""

import argparse
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

# A vendor-defined device: 64 bytes in, 11 bytes out, no report identifiers.
DESCRIPTOR = bytes.fromhex(
    "0600ff0901a101"      # usage page, usage, application collection
    "150026ff0075089540"  # logical 0..255, 8 bits, 64 of them
    "0901 8102"           # usage, input
    "950b 0901 9102"      # 11 of them, usage, output
    "c0".replace(" ", ""))

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def report(data, trailer):
    """The 65 bytes Windows gives: identifier 0, L, three bytes, data,
    trailer."""
    bytes_ = bytearray(65)
    last = 5 + len(data) + len(trailer) - 1
    bytes_[1] = last
    bytes_[5:5 + len(data)] = data
    bytes_[5 + len(data):last + 1] = trailer
    return bytes(bytes_)


class Device:
    """The simulated scanner behind /dev/hidraw1."""

    def __init__(self, path):
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.server.bind(path)
        self.server.listen(8)
        self.connections = queue.Queue()
        threading.Thread(target=self._accept, daemon=True).start()
        self.read_side = None
        self.write_side = None

    def _accept(self):
        while True:
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            self.connections.put(connection)

    def opened(self):
        """The bridge opens the device twice: reads first, then writes."""
        self.read_side = self.connections.get(timeout=10)
        self.write_side = self.connections.get(timeout=10)
        self.write_side.settimeout(5)

    def send(self, windows_report):
        # hidraw hands over a report without its identifier byte.
        self.read_side.send(windows_report[1:])

    def output(self):
        """The next output report, or None (none came, or the bridge closed
        the device)."""
        try:
            return self.write_side.recv(64) or None
        except socket.timeout:
            return None


def sanitizer_runtimes(library):
    """A sanitized library needs its runtime loaded first in the JVM."""
    linked = subprocess.run(["ldd", library], capture_output=True,
                            text=True).stdout
    runtimes = []
    for line in linked.splitlines():
        parts = line.split()
        if len(parts) >= 3 and ("libasan" in parts[0] or "libubsan" in parts[0]):
            runtimes.append(parts[2])
    return runtimes


class Java:
    def __init__(self, command, env):
        self.process = subprocess.Popen(
            command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            if os.environ.get("BRIDGE_TEST_TRACE"):
                print("  java: " + line.rstrip("\n"), flush=True)
            self.lines.put(line.rstrip("\n"))

    def say(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def next(self, timeout=10):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return "<nothing>"

    def call(self, command):
        self.say(command)
        return self.next()

    def lines_until(self, expected, optional):
        """The next lines, up to all of `expected`, with any of `optional`
        among them."""
        lines = []
        while not set(expected) <= set(lines):
            line = self.next()
            if line == "<nothing>" or (line not in expected and
                                       line not in optional):
                lines.append(line)
                break
            lines.append(line)
        return sorted(line for line in lines if line not in optional)

    def stop(self):
        if self.process.poll() is not None:
            return
        try:
            self.say("quit")
            self.process.wait(timeout=10)
        except Exception:
            self.process.kill()
            self.process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--interposer", required=True)
    parser.add_argument("--sources", required=True)
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix="jposusb-test.")
    java = None
    try:
        classes = os.path.join(work, "classes")
        subprocess.run(["javac", "-d", classes,
                        os.path.join(options.sources, "BridgeCheck.java"),
                        os.path.join(options.sources,
                                     "com/korva/jpos/KorvaJposUsb.java")],
                       check=True)
        root = os.path.join(work, "root")
        for name, identity in (("hidraw0", "0003:0000046D:0000C31C"),
                               ("hidraw1", "0003:00000000:0000000A")):
            device = os.path.join(root, "sys/class/hidraw", name, "device")
            os.makedirs(device)
            with open(os.path.join(device, "uevent"), "w") as out:
                out.write("DRIVER=hid-generic\nHID_ID=%s\n" % identity)
            with open(os.path.join(device, "report_descriptor"), "wb") as out:
                out.write(DESCRIPTOR)
        os.makedirs(os.path.join(root, "dev"))
        # Another HID device first: opened, looked at, closed again.
        open(os.path.join(root, "dev/hidraw0"), "w").close()
        scanner = Device(os.path.join(root, "dev/hidraw1"))

        env = dict(os.environ, HIDRAW_ROOT=root,
                   LD_PRELOAD=" ".join(sanitizer_runtimes(options.library) +
                                       [options.interposer]),
                   # The JVM handles its own faults and keeps what it
                   # allocates: leave both to it.
                   ASAN_OPTIONS="handle_segv=0:allow_user_segv_handler=1:"
                                "detect_leaks=0")
        java = Java(["java", "-Djava.library.path=" +
                     os.path.dirname(os.path.abspath(options.library)),
                     "-cp", classes, "BridgeCheck"], env)

        check(java.call("send 00120000000000000000000000") == "sent",
              "USBSendCMD before OpenHID returns quietly")
        check(java.call("open") == "open true", "OpenHID finds the scanner second")
        scanner.opened()
        check(java.call("open") == "open true", "OpenHID again returns true at once")
        check(scanner.connections.empty(), "and opens nothing more")

        scanner.send(report(b"012345678905", b"\x0d"))
        answer = java.call("get")
        check(answer == "label 13 " + b"A012345678905".hex(),
              "a UPC-A label: length 13, the letter A and the digits (%s)" % answer)
        scanner.send(report(b"12345678901234", b"\x00\x2a\x0b"))
        check(java.call("get") == "label 16 " + b"RS12345678901234".hex(),
              "trailer 00 2A 0B: the letters RS before the data")

        scanner.send(report(b"111111111111", b"\x0d"))
        scanner.send(report(b"222222222222", b"\x0d"))
        check(java.call("get") == "label 13 " + b"A111111111111".hex(),
              "two labels scanned: the first comes first")
        check(java.call("get") == "label 13 " + b"A222222222222".hex(),
              "and the second with the next call")

        check(java.call("send 00120000000000000000000000") == "sent",
              "USBSendCMD while open")
        written = scanner.output()
        check(written is not None and len(written) == 12 and written[1] == 0x12,
              "the scanner receives the 12-byte report (%r)" % written)
        check(java.call("send 0011") == "sent" and scanner.output() is None,
              "an array shorter than 12 bytes is not sent")

        scanner.send(report(b"333333333333", b"\x0d"))
        check(java.call("getshort") == "short 0",
              "an array too short for a label is refused")
        check(java.call("get") == "label 13 " + b"A333333333333".hex(),
              "and the label waits for a proper call")
        check(java.call("getnull") == "null done", "null arrays are refused")

        check(java.call("getasync") == "waiting", "a call waits for a label")
        java.say("close")
        # The pending read is cancelled, unless Close came before the
        # receive thread started it.
        answers = java.lines_until(["async label 0 ", "close -1"], ["CancelIo"])
        check(answers == ["async label 0 ", "close -1"],
              "Close returns -1 and lets the waiting call go (%r)" % answers)
        java.say("send 00110000000000000000000000")
        java.next()
        check(scanner.output() is None, "nothing is sent after Close")

        check(java.call("open") == "open true", "OpenHID after Close")
        scanner.opened()
        check(java.call("getasync") == "waiting", "a call waits again")
        scanner.read_side.close()  # the scanner is unplugged
        lines = sorted([java.next(), java.next()])
        check(lines == ["Device removed", "async label 0 "],
              "an unplugged scanner is reported and the call let go (%r)" % lines)
        check(java.call("get") == "label 0 ",
              "later calls return 0 after a short wait")

        check(java.call("getasync") == "waiting",
              "a call waits with nothing open")
        java.say("quit")
        try:
            code = java.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            code = None
        check(code == 0, "the JVM exits while the call waits (%r)" % code)
    finally:
        if java is not None:
            java.stop()
        shutil.rmtree(work, ignore_errors=True)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
