#!/usr/bin/env python3
"""A TCP relay that holds every chunk it reads for a while in each
direction, as a link with a long round trip does (a satellite link: some
300 ms each way). It limits nothing else: the bandwidth is the machine's.

    bench/delaylink.py LISTEN_PORT TARGET_PORT [DELAY_S]

listens on 127.0.0.1:LISTEN_PORT and relays each connection to
127.0.0.1:TARGET_PORT, each direction DELAY_S (0.3) late, in order.
"""
import asyncio
import sys
import time


async def pump(reader, writer, delay):
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                writer.close()
                return
            writer.write(data)
            await writer.drain()

    sender = asyncio.create_task(send())
    while True:
        data = await reader.read(65536)
        await queue.put((time.monotonic() + delay, data or None))
        if not data:
            break
    await sender


async def main(listen_port, target_port, delay):
    async def relay(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay),
                             return_exceptions=True)

    server = await asyncio.start_server(relay, "127.0.0.1", listen_port)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    asyncio.run(main(int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) if len(sys.argv) == 4 else 0.3))
