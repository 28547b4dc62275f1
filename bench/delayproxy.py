#!/usr/bin/python3
"""TCP proxy that adds a fixed one-way delay, for the FTP control connection.

usage: delayproxy.py LISTEN_PORT TARGET_PORT DELAY_MS [--no-handshake] [--stats=FILE] [--live]

Listens on 127.0.0.1:LISTEN_PORT, forwards to 127.0.0.1:TARGET_PORT.  Every
chunk read in either direction is delivered DELAY_MS later (so RTT =
2*DELAY_MS), in order; bandwidth is unlimited.  A close (EOF) is delayed the
same way.  Data connections do not pass through here: PASV/EPSV replies and
PORT/EPRT commands carry 127.0.0.1 and the real ports, so they go direct.

Connection setup: on a real link the server's greeting reaches the client
2 RTT after connect() starts (SYN, SYN-ACK, ACK reaches the server at
1.5 RTT, greeting arrives at 2 RTT).  Here connect() to the proxy returns at
once, so by default the proxy waits 3*DELAY before connecting upstream; the
greeting then arrives 4*DELAY = 2 RTT after connect().  --no-handshake
connects upstream at once (greeting after 1 one-way delay).
Prints its PID on stdout once listening.  --stats=FILE: after each control
connection ends, FILE holds "connections c2s_chunks s2c_chunks logins"
(totals); a c2s chunk is one burst of client bytes, i.e. about one command
(or one pipelined group of commands) = one round trip the client waits for;
logins counts the USER commands the clients sent.  A fifth number counts the
control connections opened.  --live: FILE is rewritten after every client
chunk and every new connection too, so that a client can tell what one
action on a connection it keeps open cost.
"""
import asyncio
import os
import sys

# counters: connections closed, client->server chunks, server->client chunks.
# Rewritten to STATS_FILE (if given) each time a connection ends.
STATS = {"conns": 0, "c2s": 0, "s2c": 0, "logins": 0, "opened": 0}
STATS_FILE = None
LIVE = False


def dump_stats():
    if STATS_FILE:
        tmp = STATS_FILE + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d %d %d %d %d\n" % (STATS["conns"], STATS["c2s"], STATS["s2c"], STATS["logins"],
                                           STATS["opened"]))
        os.replace(tmp, STATS_FILE)


async def pump(reader, writer, delay, loop, key):
    """Read chunks from reader; deliver each to writer `delay` s after it was read."""
    q = asyncio.Queue()
    line_start = True  # whether the next client byte begins a command line

    async def rd():
        nonlocal line_start
        try:
            while True:
                data = await reader.read(65536)
                if data:
                    STATS[key] += 1
                    if key == "c2s":
                        text = (b"\n" if line_start else b"") + data
                        STATS["logins"] += text.upper().count(b"\nUSER ")
                        line_start = data.endswith(b"\n")
                        if LIVE:
                            dump_stats()
                q.put_nowait((loop.time() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            q.put_nowait((loop.time() + delay, b""))

    async def wr():
        try:
            while True:
                due, data = await q.get()
                now = loop.time()
                if due > now:
                    await asyncio.sleep(due - now)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    else:
                        writer.close()
                    return
                writer.write(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass

    await asyncio.gather(rd(), wr())


async def handle(creader, cwriter, target_port, delay, handshake):
    loop = asyncio.get_running_loop()
    STATS["opened"] += 1
    if LIVE:
        dump_stats()
    if handshake:
        await asyncio.sleep(3 * delay)
    try:
        sreader, swriter = await asyncio.open_connection("127.0.0.1", target_port)
    except OSError:
        cwriter.close()
        return
    try:
        await asyncio.gather(pump(creader, swriter, delay, loop, "c2s"),
                             pump(sreader, cwriter, delay, loop, "s2c"))
    finally:
        STATS["conns"] += 1
        dump_stats()
        for w in (cwriter, swriter):
            try:
                w.close()
            except Exception:
                pass


async def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if len(args) != 3:
        sys.exit(__doc__)
    lport, tport, delay = int(args[0]), int(args[1]), float(args[2]) / 1000.0
    handshake = "--no-handshake" not in sys.argv
    global STATS_FILE, LIVE
    LIVE = "--live" in sys.argv
    STATS_FILE = ([a.split("=", 1)[1] for a in sys.argv[1:] if a.startswith("--stats=")] or [None])[0]
    dump_stats()
    srv = await asyncio.start_server(
        lambda r, w: handle(r, w, tport, delay, handshake), "127.0.0.1", lport,
        reuse_address=True, backlog=256)
    print(os.getpid(), flush=True)
    async with srv:
        await srv.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
