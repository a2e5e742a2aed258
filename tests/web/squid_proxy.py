"""Squid for a test, as a school installs it: Debian's own squid.conf with only its port and paths
made private, packaging/squid/tarvel.conf as its conf.d file, basic_ncsa_auth with openssl's
password hashes for the pupils, and tarvel-proxy-helper as the external ACL helper. Beside it an
origin server on loopback that answers every GET with 200.
"""

import http.server
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request

SQUID = "/usr/sbin/squid"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class _Ok(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", "2")
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(b"ok")

    def log_message(self, *args):
        pass


class Origin:
    """A web site on loopback that answers 200 "ok"."""

    def __init__(self):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _Ok)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def _read(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


def _replace_once(text, old, new):
    if text.count(old) != 1:
        raise RuntimeError("Debian's squid.conf has no single line " + old.strip())
    return text.replace(old, new)


class Squid:
    """squid -N in a folder of its own below /tmp; helper is the external ACL helper's command
    line, logins the pupils' {login: password}."""

    def __init__(self, source, helper, logins):
        if not os.access(SQUID, os.X_OK):
            raise RuntimeError("squid is not installed (scripts/install-deps.sh --test installs it)")
        self.folder = tempfile.mkdtemp(prefix="tarvel-squid-")
        self.port = free_port()
        self.process = None
        conf = _read("/etc/squid/squid.conf")
        conf = _replace_once(conf, "\ninclude /etc/squid/conf.d/*.conf\n", "\ninclude %s/*.conf\n" % self.file("conf.d"))
        conf = _replace_once(conf, "\nhttp_port 3128\n", "\nhttp_port 127.0.0.1:%d\n" % self.port)
        conf = _replace_once(conf, "\ncoredump_dir /var/spool/squid\n", "\ncoredump_dir %s\n" % self.folder)
        conf += "".join(line + "\n" for line in (
            "visible_hostname tarvel-test", "pid_filename " + self.file("squid.pid"),
            "cache_log " + self.file("cache.log"), "access_log stdio:" + self.file("access.log"),
            "shutdown_lifetime 0 seconds", "dns_nameservers 127.0.0.1", "pinger_enable off"))
        self.write("squid.conf", conf)
        shutil.copytree("/etc/squid/conf.d", self.file("conf.d"))
        self.write("passwd", "".join("%s:%s\n" % (login, self.hash(password)) for login, password in logins.items()))
        access = _read(os.path.join(source, "packaging/squid/tarvel.conf"))
        access = access.replace("@TARVEL_PROXY_HELPER@", helper).replace("/etc/squid/tarvel-passwd", self.file("passwd"))
        unfilled = [line for line in access.splitlines() if "@" in line and not line.startswith("#")]
        if unfilled:
            raise RuntimeError("packaging/squid/tarvel.conf not filled in: %s" % unfilled)
        self.write("conf.d/tarvel.conf", access)

    def file(self, name):
        return os.path.join(self.folder, name)

    def write(self, name, text):
        with open(self.file(name), "w", encoding="utf-8") as out:
            out.write(text)

    @staticmethod
    def hash(password):
        return subprocess.run(["openssl", "passwd", "-6", "-stdin"], input=password, text=True,
                              capture_output=True, check=True).stdout.strip()

    def start(self):
        """Hands the folder to Squid's user (Squid and its helpers run as proxy when root starts
        them) and waits until Squid takes connections."""
        if os.geteuid() == 0:
            proxy = pwd.getpwnam("proxy")
            for root, folders, files in os.walk(self.folder):
                for name in [root] + [os.path.join(root, entry) for entry in folders + files]:
                    os.chown(name, proxy.pw_uid, proxy.pw_gid)
        with open(self.file("squid.out"), "wb") as out:
            self.process = subprocess.Popen([SQUID, "-N", "-f", self.file("squid.conf")], stdout=out,
                                            stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                break
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("squid did not start:\n" + self.output())

    def status(self, url, login, password):
        """The HTTP status of a GET of url through Squid as the pupil login."""
        proxy = "http://%s:%s@127.0.0.1:%d" % (login, password, self.port)
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({"http": proxy}))
        request = urllib.request.Request(url, headers={"Cache-Control": "no-cache"})
        try:
            with opener.open(request, timeout=10) as answer:
                return answer.status
        except urllib.error.HTTPError as error:
            return error.code

    def output(self):
        text = ""
        for name in ("squid.out", "cache.log"):
            try:
                with open(self.file(name), encoding="utf-8", errors="replace") as log:
                    text += log.read()
            except OSError:
                pass
        return text

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def remove(self):
        shutil.rmtree(self.folder, ignore_errors=True)
