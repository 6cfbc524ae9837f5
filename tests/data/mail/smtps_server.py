"""A one-account SMTPS server for the mail command tests.

Usage: smtps_server.py CERT KEY USER - OUTPUT_FOLDER   (the password on standard input)
Listens on 127.0.0.1 on a free port with implicit TLS, prints "PORT <n>" once it accepts
connections, accepts LOGIN/PLAIN for USER with PASSWORD only, and writes every accepted
message to OUTPUT_FOLDER/<n>.eml with the envelope in OUTPUT_FOLDER/<n>.envelope.
Runs until it is terminated.
"""
import asyncio
import logging
import os
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def main():
    # Plain AUTH over the implicit TLS this server always uses is what the command does.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    cert, key, user, password, folder = sys.argv[1:6]
    # The password stays out of this program's arguments, where the tests look for it.
    if password == "-":
        password = sys.stdin.readline().rstrip("\n")
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    count = [0]

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            count[0] += 1
            base = os.path.join(folder, str(count[0]))
            with open(base + ".envelope", "w", encoding="utf-8") as out:
                out.write("FROM %s\n" % envelope.mail_from)
                for rcpt in envelope.rcpt_tos:
                    out.write("TO %s\n" % rcpt)
            # Written under a temporary name first so a reader never sees half a message.
            with open(base + ".tmp", "wb") as out:
                out.write(envelope.original_content)
            os.replace(base + ".tmp", base + ".eml")
            return "250 Message accepted for delivery"

    def authenticate(server, session, envelope, mechanism, data):
        ok = (isinstance(data, LoginPassword)
              and data.login == user.encode() and data.password == password.encode())
        return AuthResult(success=ok, handled=False)

    def factory():
        return SMTP(Handler(), authenticator=authenticate, auth_required=True,
                    auth_require_tls=False, hostname="smtp.test")

    async def serve():
        server = await asyncio.get_running_loop().create_server(
            factory, "127.0.0.1", 0, ssl=context)
        print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
        await server.serve_forever()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
