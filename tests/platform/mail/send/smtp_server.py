#!/usr/bin/python3
"""An SMTP server on a loopback port for the sending tests, and for trying the program by hand.

It greylists as real servers do: a recipient is answered "450" until some seconds after the
server first saw it from that sender. It can refuse recipients for good, and drop a connection in
the middle of a message's text.
Every command it answers and every message it takes is written to the log, one JSON object a
line, flushed at once. Once listening it prints "PORT <number>" on standard output.
"""
import argparse
import asyncio
import email.parser
import email.policy
import hashlib
import json
import sys
import time

from aiosmtpd.smtp import SMTP


class Log:
    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8") if path else None

    def write(self, **event):
        if self.file:
            self.file.write(json.dumps(event) + "\n")
            self.file.flush()


class Handler:
    def __init__(self, args, log):
        self.log = log
        self.default_delay = args.delay
        self.delays = {}
        for spec in args.delay_for:
            address, _, seconds = spec.rpartition("=")
            self.delays[address.lower()] = float(seconds)
        self.delay_range = None
        if args.delay_range:
            low, _, high = args.delay_range.partition("-")
            self.delay_range = (float(low), float(high))
        self.drop_for = {a.lower() for a in args.drop_data_for}
        self.refused = {a.lower() for a in args.refuse}
        self.first_seen = {}
        self.transactions = 0

    def delay(self, address):
        address = address.lower()
        if address in self.delays:
            return self.delays[address]
        if self.delay_range:
            low, high = self.delay_range
            share = int(hashlib.sha1(address.encode()).hexdigest()[:8], 16) / 0xFFFFFFFF
            return low + (high - low) * share
        return self.default_delay

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self.transactions += 1
        envelope.transaction = self.transactions
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        self.log.write(event="mail", transaction=envelope.transaction, sender=address)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        key = ((envelope.mail_from or "").lower(), address.lower())
        now = time.monotonic()
        first = self.first_seen.setdefault(key, now)
        if address.lower() in self.refused:
            reply = "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        elif now - first < self.delay(address):
            reply = "450 4.2.0 <%s>: Recipient address rejected: Greylisted, try again later" % address
        else:
            envelope.rcpt_tos.append(address)
            reply = "250 OK"
        self.log.write(event="rcpt", transaction=getattr(envelope, "transaction", 0), recipient=address, reply=reply)
        return reply

    def should_drop(self, envelope):
        for r in envelope.rcpt_tos:
            if r.lower() in self.drop_for:
                self.drop_for.discard(r.lower())
                return True
        return False

    async def handle_DATA(self, server, session, envelope):
        head = email.parser.BytesParser(policy=email.policy.default).parsebytes(envelope.original_content, headersonly=True)
        self.log.write(event="message", transaction=getattr(envelope, "transaction", 0), sender=envelope.mail_from,
                       recipients=envelope.rcpt_tos, subject=str(head.get("Subject", "")), from_header=str(head.get("From", "")),
                       message_id=str(head.get("Message-ID", "")), size=len(envelope.original_content))
        return "250 OK: queued"


class Server(SMTP):
    async def smtp_DATA(self, arg):
        handler = self.event_handler
        if self.envelope.rcpt_tos and not arg and handler.should_drop(self.envelope):
            # A connection reset a few hundred bytes into the text: the rest is never read.
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            got = await self._reader.read(200)
            handler.log.write(event="dropped", transaction=getattr(self.envelope, "transaction", 0),
                              recipients=self.envelope.rcpt_tos, received=len(got))
            self.transport.abort()
            # Nothing more of this connection is read, not even what came in with those bytes.
            self._handler_coroutine.cancel()
            await asyncio.sleep(0)
            return
        await super().smtp_DATA(arg)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=0, help="0: any free port")
    parser.add_argument("--log", help="where the JSON lines go")
    parser.add_argument("--delay", type=float, default=0, help="greylisting seconds for every recipient")
    parser.add_argument("--delay-for", action="append", default=[], metavar="ADDRESS=SECONDS")
    parser.add_argument("--delay-range", metavar="LOW-HIGH", help="each recipient its own delay in this range")
    parser.add_argument("--refuse", action="append", default=[], metavar="ADDRESS", help="refuse this recipient for good")
    parser.add_argument("--drop-data-for", action="append", default=[], metavar="ADDRESS",
                        help="drop the first connection that sends this recipient a message, in the text")
    args = parser.parse_args()

    log = Log(args.log)
    handler = Handler(args, log)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(lambda: Server(handler, hostname="loopback.test", data_size_limit=None, loop=loop),
                           host="127.0.0.1", port=args.port))
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    try:
        loop.run_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
