#!/usr/bin/env python3
"""Scanner simulator on pseudo-terminals, for tests and the demo.

Each simulated COM port is a pty whose slave end is linked into the Wine
prefix as COMn; the simulator plays the scanner on the master end. It is
driven over a TCP connection on 127.0.0.1, one command a line, one answer
a line ("OK ..." or "ERR ..."); bytes travel as hexadecimal.

  OPEN <port>                     make the port (COM5...), answer its pty
  CLOSE <port>                    the port disappears
  PACE <port> <baud>              send at the line rate (0: at once)
  FEED <port> <hex>               the scanner sends these bytes
  FEEDT <port> <hex>              the same; answers the monotonic time (ns,
                                  CLOCK_MONOTONIC_RAW) after the last byte
  NOW                             that clock now, to compare clocks with
  WRITTEN <port> <ms> <count>     bytes the driver wrote since the last
                                  call, waiting up to ms for count of them
  SETTINGS <port>                 the line settings as the pty sees them
  ANSWER <port> <hex> <hex>       when the driver's output ends with the
                                  first bytes, send the second
  ANSWER <port> CLEAR             forget the answers
  QUIT                            end the simulator

A port can play a portable (batch) scanner, which answers the driver's
packets (start 82, sequence, body, end 83, XOR check):

  PORTABLE <port> <records>       become a portable scanner holding that
                                  many generated labels
  RECORD <port> <hex>             add a stored record (its packet body)
  READY <port>                    send the ready packet
  UNSOLICITED <port> <hex>        send a record on its own ('W')
  FAULT <port> <name> [<n>]       misbehave: "sequence n" gives record n a
                                  wrong sequence byte, "silent n" stops
                                  after n records, "nak" refuses
                                  configuration, clock and user id
  PSTATE <port>                   what the scanner received, as key=value

With --scan <port> a fixed scanner waits there from the start, as at a
till: it accepts the driver's programming and scans a label every
--every seconds (people trying the programs; nothing else to drive).
"""

import argparse
import os
import select
import socket
import termios
import threading
import time
import tty

SPEEDS = {getattr(termios, name): int(name[1:])
          for name in dir(termios)
          if name.startswith("B") and name[1:].isdigit()}


def now_ns():
    # The clock Wine's performance counter reads, so that times taken on
    # both sides compare.
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)


def bits_per_byte(cflag):
    size = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7,
            termios.CS8: 8}[cflag & termios.CSIZE]
    parity = 1 if cflag & termios.PARENB else 0
    stop = 2 if cflag & termios.CSTOPB else 1
    return 1 + size + parity + stop


class Port:
    """One pty playing a scanner."""

    def __init__(self, name, prefix):
        self.name = name
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.slave_path = os.ttyname(self.slave)
        self.link = os.path.join(prefix, "dosdevices", name.lower())
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(self.slave_path, self.link)
        self.baud = 0
        self.written = bytearray()
        self.pending = bytearray()  # driver output not yet matched
        self.answers = []
        self.changed = threading.Condition()
        self.send_lock = threading.Lock()
        self.closed = False
        self.portable = None
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while not self.closed:
            try:
                ready, _, _ = select.select([self.master], [], [], 0.05)
                if not ready:
                    continue
                data = os.read(self.master, 4096)
            except OSError:
                if self.closed:
                    return
                time.sleep(0.01)
                continue
            replies = []
            with self.changed:
                self.written.extend(data)
                for byte in data:
                    self.pending.append(byte)
                    for trigger, reply in self.answers:
                        if self.pending.endswith(trigger):
                            replies.append(reply)
                            self.pending.clear()
                            break
                self.changed.notify_all()
            for reply in replies:
                self.feed(reply)
            if self.portable is not None:
                self.portable.take(data)

    def feed(self, data):
        with self.send_lock:
            if self.baud <= 0:
                os.write(self.master, data)
                return
            seconds = bits_per_byte(termios.tcgetattr(self.slave)[2]) / self.baud
            start = time.monotonic()
            for index, byte in enumerate(data):
                due = start + index * seconds
                delay = due - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                os.write(self.master, bytes([byte]))

    def wire_delay(self, count):
        """The pty hands over the driver's bytes at once; a paced port lets
        the time pass that they take on a real line before answering."""
        if self.baud > 0:
            cflag = termios.tcgetattr(self.slave)[2]
            time.sleep(count * bits_per_byte(cflag) / self.baud)

    def take_written(self, wait_ms, count):
        deadline = time.monotonic() + wait_ms / 1000.0
        with self.changed:
            while len(self.written) < count:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    break
                self.changed.wait(remaining)
            data = bytes(self.written)
            self.written.clear()
        return data

    def settings(self):
        iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(self.slave)
        size = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7,
                termios.CS8: 8}[cflag & termios.CSIZE]
        if cflag & termios.PARENB:
            parity = "odd" if cflag & termios.PARODD else "even"
        else:
            parity = "none"
        return ("speed=%d csize=%d parity=%s stopbits=%d crtscts=%d" %
                (SPEEDS.get(ospeed, -1), size, parity,
                 2 if cflag & termios.CSTOPB else 1,
                 1 if cflag & termios.CRTSCTS else 0))

    def close(self):
        self.closed = True
        self.reader.join()
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
        if os.path.islink(self.link):
            os.unlink(self.link)


def packet(sequence, body):
    data = bytes([0x82, sequence]) + bytes(body) + b"\x83"
    check = 0
    for byte in data:
        check ^= byte
    return data + bytes([check])


def nibbles(data):
    return bytes(part for byte in data for part in (byte >> 4, byte & 15))


def unnibble(data):
    return bytes((data[i] << 4 | data[i + 1]) & 0xFF
                 for i in range(0, len(data) - 1, 2))


class PortableScanner:
    """The packet side of a portable scanner, driven by what the driver
    writes; it answers through its port."""

    def __init__(self, port, count):
        self.port = port
        self.records = [b"A%012d" % (100000000000 + i) for i in range(count)]
        self.incoming = bytearray()
        self.download = None  # index of the next record, or None
        self.sequence = 0
        self.faults = {}
        self.received = {"acks": 0}

    def take(self, data):
        """Bytes the driver wrote; complete packets are answered."""
        for byte in data:
            if not self.incoming and byte != 0x82:
                continue  # "UU" and anything else between packets
            self.incoming.append(byte)
            if len(self.incoming) >= 4 and self.incoming[-2] == 0x83:
                self.port.wire_delay(len(self.incoming))
                self.answer(bytes(self.incoming))
                self.incoming.clear()

    def answer(self, data):
        check = 0
        for byte in data:
            check ^= byte
        if check != 0:
            self.received["bad_packets"] = self.received.get("bad_packets", 0) + 1
            return
        sequence, body = data[1], data[2:-2]
        if body == b"L":
            self.received["download_requests"] = \
                self.received.get("download_requests", 0) + 1
            self.send_header()
        elif body[:1] in (b"C", b"T", b"U"):
            name = {b"C": "config", b"T": "clock", b"U": "userid"}[body[:1]]
            self.received[name] = unnibble(body[1:]).hex()
            self.port.feed(packet(1, b"\x15" if "nak" in self.faults else b"\x06"))
        elif body == b"S":
            status = bytes(range(16)) + b"M40-SCAN" + b"V1.2\0\0\0\0" + b"OK\0\0"
            self.port.feed(packet(1, nibbles(status)))
        elif body == b"G":
            self.port.feed(packet(1, b"G-REPLY-1234"))
        elif body in (b"\x06", b"D") and self.download is not None:
            self.received["acks"] += 1
            self.next_record(sequence, body)

    def send_header(self):
        count = len(self.records)
        low, high = count & 0xFF, count >> 8
        body = (b"SCANNER1" + b"BATCH-01" +
                bytes([low >> 4, low & 15, high >> 4, high & 15]))
        self.sequence = 1
        self.download = 0
        self.port.feed(packet(1, body))

    def next_record(self, acknowledged, body):
        if acknowledged != self.sequence:
            return  # not the answer to the last packet sent
        if self.download > len(self.records):
            self.received["end_answer"] = body.hex()
            self.download = None
            return
        if "silent" in self.faults and self.download >= self.faults["silent"]:
            self.download = None
            return
        self.sequence = (self.sequence + 1) % 128
        sequence = self.sequence
        if self.faults.get("sequence") == self.download:
            sequence = (sequence + 2) % 128
        if self.download == len(self.records):
            self.port.feed(packet(sequence, b"\x04"))
        else:
            self.port.feed(packet(sequence, self.records[self.download]))
        self.download += 1

    def state(self):
        return " ".join("%s=%s" % item for item in sorted(self.received.items()))


class Simulator:
    def __init__(self, prefix):
        self.prefix = prefix
        self.ports = {}
        self.running = True

    def port(self, name):
        port = self.ports.get(name.upper())
        if port is None:
            raise ValueError("no port " + name)
        return port

    def execute(self, line):
        words = line.split()
        if not words:
            raise ValueError("empty command")
        command, args = words[0].upper(), words[1:]
        if command == "OPEN":
            name = args[0].upper()
            if name in self.ports:
                self.ports.pop(name).close()
            self.ports[name] = Port(name, self.prefix)
            return self.ports[name].slave_path
        if command == "CLOSE":
            self.ports.pop(args[0].upper()).close()
            return ""
        if command == "PACE":
            self.port(args[0]).baud = int(args[1])
            return ""
        if command == "FEED":
            self.port(args[0]).feed(bytes.fromhex("".join(args[1:])))
            return ""
        if command == "FEEDT":
            self.port(args[0]).feed(bytes.fromhex("".join(args[1:])))
            return str(now_ns())
        if command == "NOW":
            return str(now_ns())
        if command == "WRITTEN":
            data = self.port(args[0]).take_written(int(args[1]), int(args[2]))
            return data.hex()
        if command == "SETTINGS":
            return self.port(args[0]).settings()
        if command == "ANSWER":
            port = self.port(args[0])
            with port.changed:
                if args[1].upper() == "CLEAR":
                    port.answers.clear()
                else:
                    port.answers.append((bytes.fromhex(args[1]),
                                         bytes.fromhex(args[2])))
                port.pending.clear()
            return ""
        if command == "PORTABLE":
            port = self.port(args[0])
            port.portable = PortableScanner(port, int(args[1]))
            return ""
        if command == "RECORD":
            self.port(args[0]).portable.records.append(bytes.fromhex(args[1]))
            return ""
        if command == "READY":
            self.port(args[0]).feed(packet(0, b"R"))
            return ""
        if command == "UNSOLICITED":
            self.port(args[0]).feed(packet(ord("W"), bytes.fromhex(args[1])))
            return ""
        if command == "FAULT":
            faults = self.port(args[0]).portable.faults
            faults[args[1]] = int(args[2]) if len(args) > 2 else True
            return ""
        if command == "PSTATE":
            return self.port(args[0]).portable.state()
        if command == "QUIT":
            self.running = False
            return ""
        raise ValueError("unknown command " + command)

    def serve(self, connection):
        with connection, connection.makefile("rw", newline="\n") as stream:
            for line in stream:
                try:
                    answer = "OK " + self.execute(line.strip())
                except Exception as error:  # answered, never fatal
                    answer = "ERR %s" % error
                stream.write(answer.rstrip() + "\n")
                stream.flush()
                if not self.running:
                    return

    def close(self):
        for port in list(self.ports.values()):
            port.close()
        self.ports.clear()


# Labels of a fixed scanner in its native form: code letter, data, CR LF.
TILL_LABELS = [b"A012345678905", b"F4006381333931", b"FF96385074",
               b"E01234565", b"K4711-ABC", b"M*CODE39*"]


def scan_at_till(simulator, name, every):
    port = Port(name, simulator.prefix)
    simulator.ports[name.upper()] = port
    port.baud = 9600
    # The replies of each scanner type's programming commands.
    port.answers += [(b"\x04", b"OK\r\n"), (b"----", b"\x06"),
                     (b"IS01", b"\x06")]
    index = 0
    while simulator.running and not port.closed:
        time.sleep(every)
        port.feed(TILL_LABELS[index % len(TILL_LABELS)] + b"\r\n")
        index += 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--prefix", required=True, help="the Wine prefix")
    parser.add_argument("--port-file", required=True,
                        help="where to write the TCP port it listens on")
    parser.add_argument("--scan", metavar="PORT",
                        help="a fixed scanner on that port scans by itself")
    parser.add_argument("--every", type=float, default=3.0,
                        help="seconds between its labels")
    options = parser.parse_args()

    simulator = Simulator(options.prefix)
    if options.scan:
        threading.Thread(target=scan_at_till,
                         args=(simulator, options.scan, options.every),
                         daemon=True).start()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    with open(options.port_file + ".tmp", "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.rename(options.port_file + ".tmp", options.port_file)
    try:
        while simulator.running:
            ready, _, _ = select.select([listener], [], [], 0.2)
            if ready:
                connection, _ = listener.accept()
                threading.Thread(target=simulator.serve, args=(connection,),
                                 daemon=True).start()
    finally:
        simulator.close()
        listener.close()


if __name__ == "__main__":
    main()
