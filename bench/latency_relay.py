#!/usr/bin/env python3
"""A latency relay on loopback for the LDAP benchmarks: every byte is delivered DELAY_MS after it
arrived, in each direction, in order, however much is in flight (a long link, not a slow one).

    latency_relay.py LISTEN_PORT TARGET_HOST TARGET_PORT DELAY_MS

DELAY_MS is one way: 10 gives a 20 ms round trip. Prints "ready" once it listens; runs until
killed."""
import asyncio
import sys


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                break
            writer.write(data)
            await writer.drain()
        writer.close()

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(1 << 16)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
    except ConnectionError:
        queue.put_nowait((loop.time(), b""))
    try:
        await sender
    except ConnectionError:
        pass


async def main():
    listen_port, host, port, delay_ms = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
    delay = delay_ms / 1000.0

    async def accepted(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(host, port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))

    server = await asyncio.start_server(accepted, "127.0.0.1", listen_port)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
