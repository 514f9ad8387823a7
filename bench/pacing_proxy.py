#!/usr/bin/env python3
"""A paced, delayed TCP link per accepted connection, for the downloader benchmark.

The kernel here has no netem qdisc and nginx's limit_rate works per request
(per stream on HTTP/2), so a per-connection rate limit and a round-trip delay
are made in user space: every connection accepted on 127.0.0.1 gets its own
upstream connection to the target port, and each direction is paced to a byte
rate and held back by a one-way delay (half the configured round trip). Pacing
is a virtual clock: each slice written occupies the link for slice/rate
seconds. Bytes pass through untouched, so TLS and HTTP/2 work through it.

Each direction queues at most --buffer bytes; beyond that it stops reading its
source, so TCP back-pressure reaches the sender as it would on a slow link
instead of the proxy swallowing the whole file.

It writes its port to --port-file once listening, appends one line per accepted
connection to --accept-log (the benchmark counts them per run) and, with
--stats-log, one JSON line per closed connection with its turnarounds (below),
and exits by itself after --lifetime seconds or on SIGTERM/SIGINT.

A turnaround is how a request-response client spends the link's idle time
between two answers on one connection. "client" is the time from the last
byte of an answer leaving the proxy towards the client to the first byte of
the client's next request arriving; "server" is the time from the last byte
of a request reaching the server to the first byte of its answer coming back.
Loopback adds next to nothing to either, so they are the client's and the
server's own delays; the link adds its round trip on top.

Limits: the TCP handshake with the client is completed by the kernel at once,
so connection set-up costs no delay here; TLS and HTTP exchanges do.
"""

import argparse
import asyncio
import collections
import json
import os
import signal
import socket
import sys
import time

# Largest slice written at once by default: small enough that pacing stays
# smooth at 1 MiB/s (16 KiB is 16 ms of it), large enough to keep system calls
# few. Faster links want larger slices (--slice): the proxy's cost is per
# slice, and at 4 MiB/s a 16 KiB slice is due every 4 ms on each connection.
DEFAULT_SLICE = 16 * 1024
# While a direction has bytes waiting, a timer that fires late is made up for
# by sending up to this many slices back to back, so a busy machine does not
# slow the link down. An idle link earns no such credit: a real link does not
# store unused capacity, and a downloader's pause between two requests must
# cost what it costs on a real line.
DEFAULT_BURST_SLICES = 3


class Direction:
    """One direction of one connection: source transport -> delay line -> paced sink."""

    def __init__(self, loop, rate, delay, slice_size, burst, buffer_limit, on_drained):
        self.loop = loop
        self.slice_size = slice_size
        self.on_drained = on_drained  # called once the source ended and all its bytes went out
        self.rate = rate            # bytes per second; 0 = unlimited
        self.delay = delay          # one-way delay in seconds
        self.catch_up = burst / rate if rate else 0.0   # seconds of lateness made up for
        self.buffer_limit = buffer_limit
        self.link_free_at = loop.time()   # when the slices sent so far have passed the link
        self.backlogged = False           # bytes were waiting for the link since the last send
        self.queue = collections.deque()   # (release time, bytes)
        self.queued = 0
        self.source = None          # transport we read from
        self.sink = None            # transport we write to
        self.sink_paused = False
        self.source_paused = False
        self.eof = False
        self.drained = False
        self.timer = None
        self.last_sent = None       # loop time of the last slice handed to the sink
        self.unanswered = False     # sent something the other direction has not answered yet
        self.opposite = None        # the other direction of the same connection
        self.total = 0              # bytes fed
        self.first_fed = None       # loop time of the first bytes fed
        self.turns = []             # seconds from the opposite's last byte out to our next byte in

    def feed(self, data):
        if self.first_fed is None:
            self.first_fed = self.loop.time()
        self.total += len(data)
        other = self.opposite
        if other is not None and other.unanswered and not other.queue:
            self.turns.append(self.loop.time() - other.last_sent)
        if other is not None:
            other.unanswered = False
        self.queue.append((self.loop.time() + self.delay, data))
        self.queued += len(data)
        if self.queued > self.buffer_limit and not self.source_paused:
            self.source_paused = True
            self.source.pause_reading()
        self.pump()

    def finish(self):
        self.eof = True
        self.pump()

    def sink_pause(self):
        self.sink_paused = True

    def sink_resume(self):
        self.sink_paused = False
        self.pump()

    def _wake_at(self, when):
        if self.timer is not None:
            self.timer.cancel()
        self.timer = self.loop.call_at(when, self._on_timer)

    def _on_timer(self):
        self.timer = None
        self.pump()

    def pump(self):
        if self.timer is not None or self.sink is None or self.sink.is_closing():
            return
        while self.queue and not self.sink_paused:
            now = self.loop.time()
            release, data = self.queue[0]
            if release > now:
                self.backlogged = False
                self._wake_at(release)
                return
            size = min(len(data), self.slice_size)
            if self.rate:
                # Virtual clock: each slice occupies the link for size/rate.
                earliest = now - self.catch_up if self.backlogged else now
                self.link_free_at = max(self.link_free_at, earliest)
                if self.link_free_at > now:
                    self.backlogged = True
                    self._wake_at(self.link_free_at)
                    return
                self.link_free_at += size / self.rate
                self.backlogged = True
            if size == len(data):
                self.queue.popleft()
            else:
                self.queue[0] = (release, data[size:])
                data = data[:size]
            self.queued -= size
            self.sink.write(data)
            self.last_sent = self.loop.time()
            self.unanswered = True
            if self.source_paused and self.queued <= self.buffer_limit // 2:
                self.source_paused = False
                self.source.resume_reading()
        if not self.queue:
            self.backlogged = False
        if not self.queue and self.eof and not self.drained:
            self.drained = True
            if self.sink.can_write_eof():
                self.sink.write_eof()
            self.on_drained()


class Side(asyncio.Protocol):
    """One socket of a proxied connection: feeds `outgoing`, is the sink of `incoming`."""

    def __init__(self, outgoing, incoming, on_close, on_close_if_done):
        self.outgoing = outgoing
        self.incoming = incoming
        self.on_close = on_close
        self.on_close_if_done = on_close_if_done
        self.transport = None

    def connection_made(self, transport):
        self.transport = transport
        sock = transport.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.outgoing.source = transport
        self.incoming.sink = transport
        self.incoming.pump()

    def data_received(self, data):
        self.outgoing.feed(data)

    def eof_received(self):
        self.outgoing.finish()
        return True  # keep the other half open until the peer's data is through

    def pause_writing(self):
        self.incoming.sink_pause()

    def resume_writing(self):
        self.incoming.sink_resume()

    def connection_lost(self, exc):
        # A reset drops everything; an orderly close lets the queued bytes of
        # the other direction reach their peer first.
        if exc is not None:
            self.on_close()
            return
        self.outgoing.finish()
        self.incoming.drained = True
        self.on_close_if_done()


class Link:
    """A client connection and its upstream connection, closed together."""

    def __init__(self, loop, args, stats_log):
        slice_size = args.slice
        burst = max(args.burst or DEFAULT_BURST_SLICES * slice_size, slice_size)
        delay = args.rtt_ms / 2000.0
        rate = int(args.rate)
        self.up = Direction(loop, rate, delay, slice_size, burst, args.buffer,
                            self.close_if_done)    # client -> server
        self.down = Direction(loop, rate, delay, slice_size, burst, args.buffer,
                              self.close_if_done)  # server -> client
        self.client = Side(self.up, self.down, self.close, self.close_if_done)
        self.server = None
        self.closed = False
        self.stats_log = stats_log
        self.opened = loop.time()
        self.opened_wall = time.time()
        self.loop = loop
        self.up.opposite, self.down.opposite = self.down, self.up

    def close_if_done(self):
        if self.up.drained and self.down.drained:
            self.close()

    def close(self):
        if self.closed:
            return
        self.closed = True
        if self.stats_log:
            # Wall-clock times, so that a run's connections line up with its process.
            to_wall = lambda t: round(self.opened_wall + (t - self.opened), 4) if t is not None else None
            self.stats_log.write(json.dumps({
                "opened": round(self.opened_wall, 4),
                "first_request": to_wall(self.up.first_fed),
                "last_answer": to_wall(self.down.last_sent),
                "closed": to_wall(self.loop.time()),
                "bytes_down": self.down.total,
                "client_turns_ms": [round(t * 1000, 2) for t in self.up.turns],
                "server_turns_ms": [round(t * 1000, 2) for t in self.down.turns],
            }) + "\n")
        for side in (self.client, self.server):
            if side is not None and side.transport is not None:
                side.transport.close()
        for direction in (self.up, self.down):
            if direction.timer is not None:
                direction.timer.cancel()


async def serve(args):
    loop = asyncio.get_running_loop()
    stop = loop.create_future()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, lambda: stop.done() or stop.set_result(None))
    loop.call_later(args.lifetime, lambda: stop.done() or stop.set_result(None))

    accept_log = open(args.accept_log, "a", buffering=1) if args.accept_log else None
    stats_log = open(args.stats_log, "a", buffering=1) if args.stats_log else None
    accepted = 0

    def make_client():
        nonlocal accepted
        accepted += 1
        if accept_log:
            accept_log.write(f"{accepted}\n")
        link = Link(loop, args, stats_log)

        async def connect_upstream():
            # The client may send (its TLS hello) before this completes: the
            # data waits in the direction's queue until the sink exists.
            try:
                _, link.server = await loop.create_connection(
                    lambda: Side(link.down, link.up, link.close, link.close_if_done), args.target_host, args.target_port)
            except OSError as error:
                print(f"pacing_proxy: upstream connect failed: {error}", file=sys.stderr)
                link.close()

        loop.create_task(connect_upstream())
        return link.client

    server = await loop.create_server(make_client, args.listen_host, args.port, backlog=128)
    port = server.sockets[0].getsockname()[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as handle:
            handle.write(f"{port}\n")
        os.replace(tmp, args.port_file)
    await stop
    server.close()


def parse_rate(text):
    """'1M' -> 1048576, '512K' -> 524288, '0' -> unlimited."""
    units = {"K": 1024, "M": 1024 * 1024, "G": 1024 ** 3}
    text = text.strip().upper()
    if text and text[-1] in units:
        return int(float(text[:-1]) * units[text[-1]])
    return int(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--listen-host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--port-file", help="write the listening port here")
    parser.add_argument("--target-host", default="127.0.0.1")
    parser.add_argument("--target-port", type=int, required=True)
    parser.add_argument("--rate", type=parse_rate, default=0,
                        help="bytes per second per connection and direction, e.g. 1M; 0 = unlimited")
    parser.add_argument("--rtt-ms", type=float, default=0.0, help="round trip added by the link")
    parser.add_argument("--slice", type=parse_rate, default=DEFAULT_SLICE,
                        help="largest write to a socket at once (default 16K)")
    parser.add_argument("--burst", type=parse_rate, default=0,
                        help="most bytes sent back to back to make up for a late timer "
                             "(default three slices)")
    parser.add_argument("--buffer", type=parse_rate, default=256 * 1024,
                        help="bytes queued per direction before reading stops")
    parser.add_argument("--accept-log", help="append one line per accepted connection")
    parser.add_argument("--stats-log", help="append one JSON line of turnarounds per closed connection")
    parser.add_argument("--lifetime", type=float, default=3600.0, help="exit after this many seconds")
    args = parser.parse_args()
    if args.listen_host not in ("127.0.0.1", "::1", "localhost"):
        parser.error("the proxy listens on loopback only")
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
