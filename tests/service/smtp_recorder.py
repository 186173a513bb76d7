"""A mail server for the agent's tests: takes every mail and records it.

Usage: smtp_recorder.py DIR. Listens on a free port of 127.0.0.1, writes that port to DIR/port
once it accepts connections, and appends one JSON line per mail to DIR/mails.jsonl with the HELO
name, the envelope sender and recipients and the raw content. Runs until it is terminated.
"""
import json
import os
import signal
import socket
import sys
import threading

from aiosmtpd.controller import Controller


class Recorder:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        record = {
            "helo": session.host_name,
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "content": envelope.original_content.decode("latin-1"),
        }
        with self.lock, open(self.path, "a", encoding="utf-8") as out:
            out.write(json.dumps(record) + "\n")
        return "250 OK"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    directory = sys.argv[1]
    controller = Controller(Recorder(os.path.join(directory, "mails.jsonl")),
                            hostname="127.0.0.1", port=free_port())
    controller.start()
    tmp = os.path.join(directory, "port.tmp")
    with open(tmp, "w", encoding="ascii") as out:
        out.write(str(controller.port))
    os.replace(tmp, os.path.join(directory, "port"))
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
