"""An SMTP server on loopback for the feedback tests.

Usage: smtp_sink.py OUTPUT_FILE
Binds 127.0.0.1 on a free port, prints the port on one line, then serves until
its standard input closes. Every message it accepts is appended to OUTPUT_FILE
as one JSON line: the envelope, the raw data, the headers and the body as a
mail reader decodes them. A file OUTPUT_FILE.reject-rcpt makes it refuse every
recipient with 550.
"""
import json
import os
import socket
import sys
from email import message_from_bytes, policy

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, output):
        self.output = output

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if os.path.exists(self.output + ".reject-rcpt"):
            return "550 5.1.1 Recipient refused by the test"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.original_content or envelope.content
        message = message_from_bytes(raw, policy=policy.default)
        body = message.get_body(("plain",))
        record = {
            "helo": session.host_name,
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "raw": raw.decode("latin-1"),
            "headers": {name: str(value) for name, value in message.items()},
            "content_type": message.get_content_type(),
            "charset": message.get_content_charset(),
            "body": body.get_content() if body is not None else None,
            "defects": [type(d).__name__ for d in message.defects],
        }
        with open(self.output, "a", encoding="utf-8") as out:
            out.write(json.dumps(record) + "\n")
        return "250 Message accepted"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    output = sys.argv[1]
    port = free_port()
    controller = Controller(Sink(output), hostname="127.0.0.1", port=port)
    controller.start()
    print(port, flush=True)
    sys.stdin.read()
    controller.stop()


if __name__ == "__main__":
    main()
