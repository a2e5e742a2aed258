#!/usr/bin/python3
"""The teachers' page in a real browser: headless Chromium (Debian's chromium and chromedriver,
driven by python3-selenium) against tarvel-web on a fresh embedded demo tree, over TLS with a
certificate made for the run, on a free loopback port.

    browser_test.py --web build/tarvel-web --tree build/tarvel-tree --source .

A teacher logs in on a phone-sized window, stops their class until the end of the lesson, sees
every pupil "aus" with the end, frees one pupil, is refused for a class they may not change (the
server's reason on the page) and logs out; a second teacher on a desktop-sized window sees the
first one's holds. No page may trip the Content-Security-Policy.
"""

import argparse
import ctypes
import ctypes.util
import datetime
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PASSWORD = "Kreide-und-Tafel-7"
TEACHER = "lehrer1.LEHRER.UNTERRICHT"   # may change KLASSE5A and KLASSE5B in the demo tree
COLLEAGUE = "lehrer2.LEHRER.UNTERRICHT"  # may change no class
BUFFER_MINUTES = 5
ARGS = None


def yescrypt(password):
    """A crypt(3) yescrypt hash from libcrypt, as tarvel-web passwd writes it."""
    lib = ctypes.CDLL(ctypes.util.find_library("crypt"))
    lib.crypt_gensalt.restype = ctypes.c_char_p
    lib.crypt_gensalt.argtypes = [ctypes.c_char_p, ctypes.c_ulong, ctypes.c_char_p, ctypes.c_int]
    lib.crypt.restype = ctypes.c_char_p
    lib.crypt.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    salt = lib.crypt_gensalt(b"$y$", 0, None, 0)
    hashed = lib.crypt(password.encode(), salt) if salt else None
    if not hashed or hashed.startswith(b"*"):
        raise RuntimeError("libcrypt made no yescrypt hash")
    return hashed.decode()


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def clock(minutes):
    return "%02d:%02d" % divmod(minutes, 60)


class WebService:
    """tarvel-web on a demo tree of its own, in a folder that is removed afterwards."""

    def __init__(self, folder):
        self.folder = folder
        tree = os.path.join(folder, "school.tree")
        subprocess.run([ARGS.tree, "init", "--demo", tree], check=True, capture_output=True)
        self.write("nwclient.conf", "Tree=sqlite:%s\nOperator=admin.UNTERRICHT\n" % tree)
        subprocess.run(["bash", os.path.join(ARGS.source, "scripts/demo-settings.sh"),
                        os.path.join(folder, "tarvel.ini")], check=True)
        self.write("web-logins", "".join("%s:%s:%s\n" % (name.split(".")[0], name, yescrypt(PASSWORD))
                                         for name in (TEACHER, COLLEAGUE)), mode=0o600)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", os.path.join(folder, "web.key"), "-out", os.path.join(folder, "web.pem")],
                       check=True, capture_output=True)
        os.mkdir(os.path.join(folder, "state"), 0o750)
        # One lesson running now (clamped to the day), so "bis Stundenende" is its end plus the buffer.
        now = datetime.datetime.now()
        minute = now.hour * 60 + now.minute
        begin, end = max(minute - 5, 0), min(minute + 30, 23 * 60 + 50)
        if end <= minute + 1:
            raise unittest.SkipTest("no lesson fits before midnight")
        self.lesson_end = clock(end + BUFFER_MINUTES)
        self.port = free_port()
        self.config = self.write("tarvel-web.conf", "\n".join([
            "[Dienst]", "Listen=127.0.0.1", "Port=%d" % self.port, "Certificate=web.pem", "Key=web.key",
            "StateDir=state", "NWClient=nwclient.conf", "Settings=tarvel.ini", "Logins=web-logins",
            "[Stunden]", "1=%s-%s" % (clock(begin), clock(end)), "Pausenpuffer=%d" % BUFFER_MINUTES, ""]))
        self.log = open(os.path.join(folder, "tarvel-web.log"), "wb")
        self.process = subprocess.Popen([ARGS.web, ARGS.config_option + self.config], stdout=self.log,
                                        stderr=subprocess.STDOUT, cwd=folder)
        self.base = "https://127.0.0.1:%d" % self.port
        self.wait_until_up()

    def write(self, name, text, mode=0o644):
        path = os.path.join(self.folder, name)
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
        os.chmod(path, mode)
        return path

    def wait_until_up(self):
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("tarvel-web ended at once:\n" + self.output())
            try:
                with urllib.request.urlopen(self.base + "/", context=context, timeout=2) as answer:
                    if answer.status == 200:
                        return
            except OSError:
                time.sleep(0.2)
        raise RuntimeError("tarvel-web did not answer:\n" + self.output())

    def output(self):
        if not self.log.closed:
            self.log.flush()
        with open(self.log.name, encoding="utf-8", errors="replace") as log:
            return log.read()

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()


def start_browser(profile, size):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ("--headless=new", "--user-data-dir=" + profile, "--window-size=" + size,
                     "--disable-dev-shm-usage", "--ignore-certificate-errors", "--no-first-run"):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    options.accept_insecure_certs = True
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = DriverService(executable_path=shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=driver, options=options)


class Page:
    """What a teacher does on the page and what they read there."""

    def __init__(self, test, driver, base):
        self.test, self.driver, self.base = test, driver, base

    def wait(self, condition, what, seconds=60):
        waiting = WebDriverWait(self.driver, seconds, poll_frequency=0.2,
                                ignored_exceptions=[NoSuchElementException, StaleElementReferenceException])
        try:
            return waiting.until(lambda driver: condition())
        except Exception as error:
            self.test.fail("%s: %s\nStatus: %s" % (what, type(error).__name__, self.status()))

    def status(self):
        found = self.driver.find_elements(By.ID, "status")
        return found[0].text if found else self.driver.find_element(By.TAG_NAME, "main").text

    def log_in(self, login):
        self.driver.get(self.base + "/")
        self.driver.find_element(By.ID, "login").send_keys(login)
        self.driver.find_element(By.ID, "password").send_keys(PASSWORD)
        self.driver.find_element(By.CSS_SELECTOR, "form.anmelden button[type=submit]").click()
        self.wait(lambda: "Angemeldet als" in self.driver.find_element(By.CSS_SELECTOR, ".wer").text,
                  "logged in as " + login)

    def open_class(self, name):
        self.driver.get(self.base + "/")
        links = [a for a in self.driver.find_elements(By.CSS_SELECTOR, "ul.klassen a") if name in a.text]
        self.test.assertEqual(len(links), 1, "one link to " + name)
        links[0].click()
        self.wait(lambda: name in self.driver.find_element(By.TAG_NAME, "h1").text, "class page of " + name)

    def pupils(self):
        """(name, state, holds) of every pupil shown."""
        rows = []
        for item in self.driver.find_elements(By.CSS_SELECTOR, "#schueler li.schueler"):
            rows.append((item.find_element(By.TAG_NAME, "h3").text,
                         item.find_element(By.CSS_SELECTOR, ".zustand").text,
                         [hold.text for hold in item.find_elements(By.CSS_SELECTOR, "ul.sperren li")]))
        return rows

    def class_button(self, text):
        return self.button(self.driver.find_element(By.CSS_SELECTOR, "section.klasse"), text)

    def pupil_button(self, index, text):
        item = self.driver.find_elements(By.CSS_SELECTOR, "#schueler li.schueler")[index]
        item.find_element(By.TAG_NAME, "summary").click()
        return self.button(item, text)

    def button(self, scope, text):
        found = [b for b in scope.find_elements(By.TAG_NAME, "button") if b.text == text]
        self.test.assertEqual(len(found), 1, "one button " + text)
        return found[0]

    def csp_violations(self):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if "Content Security Policy" in entry["message"] or "Refused to" in entry["message"]]


class TeachersInTheBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="tarvel-browser-")
        try:
            cls.service = WebService(cls.folder)
        except BaseException:
            shutil.rmtree(cls.folder, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        # ctest shows this only when the test fails.
        sys.stderr.write("tarvel-web said:\n" + cls.service.output()[-4000:])
        shutil.rmtree(cls.folder, ignore_errors=True)

    def browser(self, name, size):
        driver = start_browser(os.path.join(self.folder, "profile-" + name), size)
        self.addCleanup(driver.quit)
        return Page(self, driver, self.service.base)

    def test_stop_until_lesson_end_free_one_refusal_and_a_colleague_sees_the_holds(self):
        held = "gesperrt von %s bis %s" % (TEACHER, self.service.lesson_end)
        teacher = self.browser("teacher", "412,915")
        teacher.log_in("lehrer1")
        teacher.open_class("KLASSE5A")
        before = teacher.pupils()
        self.assertGreater(len(before), 1)
        self.assertTrue(all(state == "Internet: an" for _, state, _ in before), before)

        teacher.class_button("Internet aus bis Stundenende").click()
        teacher.wait(lambda: all(state == "Internet: aus" for _, state, _ in teacher.pupils()),
                     "every pupil aus after the class's stop")
        after = teacher.pupils()
        self.assertEqual([name for name, _, _ in after], [name for name, _, _ in before])
        for name, _, holds in after:
            self.assertTrue(name)
            self.assertEqual(holds, [held], name)
        self.assertIn("Gesperrt: %d Benutzer" % len(before), teacher.status())

        freed = after[0][0]
        teacher.pupil_button(0, "Meine Sperren aufheben").click()
        teacher.wait(lambda: teacher.pupils()[0][1] == "Internet: an", "the freed pupil an")
        now = teacher.pupils()
        self.assertEqual(now[0], (freed, "Internet: an", []))
        self.assertTrue(all(state == "Internet: aus" and holds == [held] for _, state, holds in now[1:]), now)

        # A class the teacher may not change: the directory refuses, the page says why.
        teacher.open_class("KLASSE6A")
        teacher.class_button("Internet aus bis Stundenende").click()
        teacher.wait(lambda: "Tarvel Internet-Stop" in teacher.status(), "the refused stop's result")
        refusal = teacher.status()
        self.assertIn("Es sind Fehler aufgetreten!", refusal)
        self.assertIn("Fehler -672", refusal)  # the directory's own reason: no access
        self.assertTrue(all(state == "Internet: an" for _, state, _ in teacher.pupils()), teacher.pupils())

        teacher.driver.find_element(By.CSS_SELECTOR, "form.abmelden button").click()
        teacher.wait(lambda: teacher.driver.find_element(By.ID, "login").is_displayed(), "the login page")
        teacher.driver.get(self.service.base + "/")
        self.assertEqual(teacher.driver.find_elements(By.CSS_SELECTOR, ".wer"), [], "the session has ended")
        self.assertEqual(teacher.csp_violations(), [])

        colleague = self.browser("colleague", "1280,900")
        colleague.log_in("lehrer2")
        colleague.open_class("KLASSE5A")
        seen = colleague.pupils()
        self.assertEqual(seen[0], (freed, "Internet: an", []))
        self.assertTrue(all(state == "Internet: aus" and holds == [held] for _, state, holds in seen[1:]), seen)
        self.assertEqual(colleague.csp_violations(), [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--web", required=True, help="the tarvel-web program")
    parser.add_argument("--tree", required=True, help="the tarvel-tree program")
    parser.add_argument("--source", required=True, help="the source folder (scripts/demo-settings.sh)")
    parser.add_argument("--config-option", default="--config=", help="how tarvel-web is given its configuration")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
