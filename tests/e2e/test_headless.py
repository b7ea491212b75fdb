"""Runs of `zavrinello-parser-demo --headless` as a separate process against
the demo shop on its fixed loopback port: exit statuses, the lines printed,
signals during a crawl, and the workbook read back by openpyxl.

    /usr/bin/python3 test_headless.py PATH-OF-zavrinello-parser-demo

The shop's port is the one the demo program was built for (ZP_DEMO_SHOP_PORT,
default tools/demo-shop/port), so no two of these runs may overlap.
"""
import errno
import hashlib
import json
import os
import pty
import queue
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

import openpyxl

HERE = os.path.dirname(os.path.abspath(__file__))
SHOP_SCRIPT = os.path.join(HERE, "..", "..", "tools", "demo-shop", "demo_shop.py")


def demo_port():
    """The port the demo program was built for."""
    if os.environ.get("ZP_DEMO_SHOP_PORT"):
        return int(os.environ["ZP_DEMO_SHOP_PORT"])
    with open(os.path.join(HERE, "..", "..", "tools", "demo-shop", "port"), encoding="ascii") as f:
        return int(f.read())


PORT = demo_port()
PROGRAM = os.environ.get("ZP_DEMO_PROGRAM", "")
WORKBOOK = "Zavrinello.xlsx"
# The package checker of the shared/ folder beside the repository.
VALIDATOR = os.environ.get("ZP_VALIDATE_XLSX") or os.path.join(
    HERE, "..", "..", "..", "shared", "tools", "validate-xlsx")

STOPPED = "Парсер остановлен."
FINISHED = "Загрузка закончена."
NO_ACCESS = "Нет доступа к сайту."
REPORT = re.compile(r"^Было загружено (\d+) новых товаров\.$")
# One line per product written when the output is not a terminal.
PRODUCT_LINE = re.compile(r"^(\d+) новых \| \d\d:\d\d:\d\d \| [\d.]+ в мин \| ")

# Generous bounds that only a hung process reaches.
SHOP_START_SECONDS = 30
RUN_SECONDS = 240
NO_SHOP_RUN_SECONDS = 150


def signal_held(pid, number):
    """True when the process blocks or catches the signal (Linux /proc)."""
    try:
        with open(f"/proc/{pid}/status", encoding="ascii") as status:
            fields = dict(line.split(":", 1) for line in status if ":" in line)
    except OSError:
        return False
    bit = 1 << (number - 1)
    return bool(int(fields.get("SigBlk", "0"), 16) & bit or int(fields.get("SigCgt", "0"), 16) & bit)


class Shop:
    """The demo shop on PORT; started in __init__, stopped by stop()."""

    def __init__(self, *options):
        self.options = [str(o) for o in options]
        self.process = subprocess.Popen(
            [sys.executable, SHOP_SCRIPT, "--port", str(PORT), *self.options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(self.process.stdout.readline()),
                         daemon=True).start()
        try:
            first = lines.get(timeout=SHOP_START_SECONDS)
        except queue.Empty:
            first = ""
        if first.strip() != str(PORT):
            self.process.kill()
            _, errors = self.process.communicate()
            raise AssertionError(f"demo shop did not start on port {PORT}: {first!r} {errors}")

    def manifest(self):
        result = subprocess.run(
            [sys.executable, SHOP_SCRIPT, *self.options, "--print-manifest"],
            check=True, capture_output=True)
        return json.loads(result.stdout)

    def order_numbers(self):
        return sorted(p["order_number"] for p in self.manifest()["products"])

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=SHOP_START_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


class Run:
    """One `--headless` run of the demo program in a folder, standard input
    not a terminal; stdout is read line by line as it comes."""

    def __init__(self, folder, *arguments, prefix=(), environment=None,
                 stdin=subprocess.DEVNULL, preexec_fn=None):
        environment = {k: v for k, v in (environment or os.environ).items()
                       if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.process = subprocess.Popen(
            [*prefix, os.path.join(folder, os.path.basename(PROGRAM)), *arguments],
            cwd=folder, env=environment, stdin=stdin, preexec_fn=preexec_fn,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines = []
        self.raw = []
        self._pending = queue.Queue()
        self._stderr = []
        threading.Thread(target=self._read_stdout, daemon=True).start()
        threading.Thread(target=lambda: self._stderr.append(self.process.stderr.read()),
                         daemon=True).start()

    def _read_stdout(self):
        for raw in self.process.stdout:
            self._pending.put(raw)
        self._pending.put(None)

    def _take(self, raw):
        self.raw.append(raw)
        self.lines.append(raw.decode("utf-8").rstrip("\n"))

    def wait_for_line(self, predicate, timeout=RUN_SECONDS):
        """Reads lines until one satisfies predicate; returns it, or None at
        the end of the output or the time-out."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                raw = self._pending.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if raw is None:
                self._pending.put(None)
                return None
            self._take(raw)
            if predicate(self.lines[-1]):
                return self.lines[-1]

    def finish(self, timeout=RUN_SECONDS):
        """Waits for the exit; returns the exit status."""
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("the run did not end:\n" + "\n".join(self.lines))
        self.wait_for_line(lambda _: False, timeout=10)
        self.process.stdout.close()
        self.process.stderr.close()
        return status

    def signal(self, number):
        self.process.send_signal(number)

    @property
    def stdout_bytes(self):
        return b"".join(self.raw)

    @property
    def stderr_text(self):
        return b"".join(self._stderr).decode("utf-8", "replace")


def check_valid_xlsx(path):
    """Raises unless validate-xlsx passes the package (and it can be run at all)."""
    if not os.access(VALIDATOR, os.X_OK):
        raise AssertionError(f"validate-xlsx not found at {VALIDATOR} "
                             "(a copy of shared/ belongs beside the repository)")
    result = subprocess.run([VALIDATOR, path], capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(f"validate-xlsx:\n{result.stdout}{result.stderr}")


def workbook_order_numbers(path):
    """Column A below the header, read by openpyxl (which also proves the file
    opens) after validate-xlsx has passed the file."""
    check_valid_xlsx(path)
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    return [row[0] for row in sheet.iter_rows(min_row=2, max_col=1, values_only=True)
            if row[0] is not None]


def file_hash(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def connected_to_shop():
    """True while a TCP connection to the shop's port is established."""
    with open("/proc/net/tcp", encoding="ascii") as table:
        for line in list(table)[1:]:
            fields = line.split()
            if fields[2].endswith(f":{PORT:04X}") and fields[3] == "01":
                return True
    return False


def port_is_free():
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("127.0.0.1", PORT))
        except OSError:
            return False
    return True


class HeadlessRunTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.access(PROGRAM, os.X_OK), f"no demo program at {PROGRAM!r}")
        self.folder = tempfile.mkdtemp(prefix="zp-headless-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        shutil.copy2(PROGRAM, self.folder)
        self.shop = None

    def tearDown(self):
        self.stop_shop()

    def start_shop(self, *options):
        self.stop_shop()
        self.shop = Shop(*options)
        return self.shop

    def stop_shop(self):
        if self.shop is not None:
            self.shop.stop()
            self.shop = None

    def workbook(self):
        return os.path.join(os.path.realpath(self.folder), WORKBOOK)

    def run_to_end(self, timeout=RUN_SECONDS):
        run = Run(self.folder, "--headless")
        status = run.finish(timeout)
        return run, status

    def reported_count(self, run):
        """The count of the report, which must directly follow its first line."""
        self.assertIn(FINISHED, run.lines, run.lines)
        index = run.lines.index(FINISHED)
        self.assertLess(index + 1, len(run.lines), run.lines)
        match = REPORT.match(run.lines[index + 1])
        self.assertIsNotNone(match, run.lines)
        return int(match.group(1))

    def check_plain_output(self, run):
        """No terminal control on a pipe, and one line per product written."""
        self.assertNotIn(b"\x1b", run.stdout_bytes)
        self.assertNotIn(b"\r", run.stdout_bytes)
        self.assertNotIn("\x1b", run.stderr_text)
        products = [l for l in run.lines if PRODUCT_LINE.match(l)]
        counts = [int(PRODUCT_LINE.match(l).group(1)) for l in products]
        self.assertEqual(counts, list(range(1, len(counts) + 1)), run.lines)
        return len(counts)

    def printed_order_numbers(self, run):
        """The order numbers that end the product lines."""
        return sorted(re.search(r"/(ZV-\d+)\.\.\.$", l).group(1)
                      for l in run.lines if PRODUCT_LINE.match(l))

    def check_file_line(self, run):
        self.assertEqual(run.lines[-1], "Файл: " + self.workbook(), run.lines)

    def check_stopped_run(self, run, status, catalogue):
        self.assertEqual(status, 3, run.lines + [run.stderr_text])
        self.assertIn(STOPPED, run.lines)
        self.assertEqual(run.lines.index(STOPPED) + 1, run.lines.index(FINISHED), run.lines)
        reported = self.reported_count(run)
        self.assertEqual(self.check_plain_output(run), reported)
        self.check_file_line(run)
        stored = workbook_order_numbers(self.workbook())
        self.assertEqual(len(stored), reported)
        self.assertEqual(len(set(stored)), len(stored))
        self.assertLessEqual(set(stored), set(catalogue))
        # Every product reported as written before the stop is in the file.
        self.assertEqual(self.printed_order_numbers(run), sorted(stored))
        return reported

    def test_completed_crawl_writes_every_product_once_and_reports(self):
        shop = self.start_shop("--products", 40, "--seed", 3)
        catalogue = shop.order_numbers()

        run, status = self.run_to_end()

        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        self.assertEqual(self.reported_count(run), len(catalogue))
        self.assertNotIn(STOPPED, run.lines)
        self.check_file_line(run)
        self.assertEqual(self.check_plain_output(run), len(catalogue))
        # Besides the product lines only a few: the report, the file.
        self.assertLessEqual(len(run.lines), len(catalogue) + 6, run.lines)
        self.assertEqual(sorted(workbook_order_numbers(self.workbook())), catalogue)
        self.assertEqual(self.printed_order_numbers(run), catalogue)
        pictures = os.listdir(os.path.join(self.folder, "Images"))
        self.assertTrue(pictures)

    @unittest.skipUnless(os.environ.get("ZP_PROGRAM_FILTERS_QT_NOTES", "1") == "1",
                         "a debug build shows Qt's notes")
    def test_qt_notes_stay_off_standard_error(self):
        """Every logging category of Qt switched on: none of it reaches the
        documented output of a release build."""
        self.start_shop("--products", 8, "--seed", 3)
        environment = dict(os.environ, QT_LOGGING_RULES="*=true")
        run = Run(self.folder, "--headless", environment=environment)
        status = run.finish()

        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        self.assertEqual(run.stderr_text, "")
        self.assertEqual(self.check_plain_output(run), 8)

    def test_second_run_appends_only_new_products(self):
        self.start_shop("--products", 30, "--seed", 5)
        first, status = self.run_to_end()
        self.assertEqual(status, 0, first.lines)
        self.assertEqual(self.reported_count(first), 30)

        shop = self.start_shop("--products", 30, "--seed", 5, "--new-products", 3)
        catalogue = shop.order_numbers()
        second, status = self.run_to_end()

        self.assertEqual(status, 0, second.lines + [second.stderr_text])
        self.assertEqual(self.reported_count(second), 3)
        self.assertEqual(self.check_plain_output(second), 3)
        stored = workbook_order_numbers(self.workbook())
        self.assertEqual(len(stored), len(set(stored)), "duplicate order numbers")
        self.assertEqual(sorted(stored), catalogue)

    def test_output_nobody_reads_does_not_end_the_run(self):
        shop = self.start_shop("--products", 25, "--seed", 13)
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            process = subprocess.Popen([os.path.join(self.folder, os.path.basename(PROGRAM)),
                                        "--headless"], cwd=self.folder, stdin=subprocess.DEVNULL,
                                       stdout=write_end, stderr=subprocess.DEVNULL)
        finally:
            os.close(write_end)
        self.assertEqual(process.wait(timeout=RUN_SECONDS), 0)
        self.assertEqual(sorted(workbook_order_numbers(self.workbook())), shop.order_numbers())

    def start_slow_crawl_and_wait_for_products(self, products_before_signal):
        shop = self.start_shop("--products", 150, "--seed", 7, "--latency-ms", 30)
        catalogue = shop.order_numbers()
        run = Run(self.folder, "--headless")
        seen = run.wait_for_line(
            lambda l: bool(PRODUCT_LINE.match(l))
            and int(PRODUCT_LINE.match(l).group(1)) >= products_before_signal)
        self.assertIsNotNone(seen, run.lines)
        return run, catalogue

    def test_sigterm_during_crawl_saves_what_was_written(self):
        run, catalogue = self.start_slow_crawl_and_wait_for_products(5)
        run.signal(signal.SIGTERM)
        status = run.finish()

        reported = self.check_stopped_run(run, status, catalogue)
        self.assertGreaterEqual(reported, 5)
        self.assertLess(reported, len(catalogue))

    def test_second_sigint_does_not_lose_the_save(self):
        """Two Ctrl+C at once: the run still saves and reports what it saved;
        a picture the second one gave up takes its row and the rows after it
        to the next run, so how many stay depends on the pictures' timing."""
        run, catalogue = self.start_slow_crawl_and_wait_for_products(3)
        run.signal(signal.SIGINT)
        run.signal(signal.SIGINT)
        status = run.finish()

        stored = self.check_run_stopped_twice(run, status, must_leave_out=False)
        self.assertLessEqual(set(stored), set(catalogue))

    def test_failing_page_without_terminal_declines_the_retry(self):
        probe = Shop("--products", 20, "--seed", 9)
        try:
            products = probe.manifest()["products"]
        finally:
            probe.stop()
        failing = products[5]["path"]
        shop = self.start_shop("--products", 20, "--seed", 9, "--fail-path", failing)

        run, status = self.run_to_end()

        prompt = [i for i, l in enumerate(run.lines) if l.startswith("Попробовать еще раз?")]
        self.assertEqual(len(prompt), 1, run.lines)
        self.assertEqual(run.lines[prompt[0] - 1], NO_ACCESS)
        self.assertIn("[y/N]", run.lines[prompt[0]])
        reported = self.check_stopped_run(run, status, shop.order_numbers())
        self.assertEqual(reported, 5)
        self.assertIn(f"Не удалось загрузить http://127.0.0.1:{PORT}{failing}: 500\n",
                      run.stderr_text)

    def test_pictures_that_cannot_be_had_are_named_counted_and_fail_the_run_when_they_may_pass(self):
        """A server error may pass: the run ends with 4, so that a scheduler
        tries again. A picture the shop does not have (404) fails no run.
        Both with the pictures downloaded one by one and in the background."""
        for options, reason, expected_status in [
                (("--fail-path", "/picture/"), "500", 4),
                (("--image-base", f"http://127.0.0.1:{PORT}/picture/gone"), "404", 0)]:
            shop = self.start_shop("--products", 6, "--seed", 21, *options)
            base = f"http://127.0.0.1:{PORT}/picture" + ("/gone" if reason == "404" else "")
            pictures = [p["picture_path"] for p in shop.manifest()["products"]
                        if p["picture_path"]]
            self.assertTrue(pictures)
            for connections in ("1", "6"):
                with self.subTest(reason=reason, connections=connections):
                    shutil.rmtree(os.path.join(self.folder, "Images"), ignore_errors=True)
                    if os.path.exists(self.workbook()):
                        os.remove(self.workbook())
                    run = Run(self.folder, "--headless", "--connections", connections)
                    status = run.finish()

                    self.assertEqual(status, expected_status, run.lines + [run.stderr_text])
                    self.assertEqual(self.check_plain_output(run), 6)
                    self.assertEqual(self.reported_count(run), 6)
                    report = run.lines.index(FINISHED)
                    self.assertEqual(run.lines[report + 2],
                                     f"Не загружено картинок: {len(pictures)}. "
                                     "Их загрузят при следующем запуске.")
                    warned = sorted(run.stderr_text.splitlines())
                    self.assertEqual(warned, sorted(f"Не удалось загрузить {base}{p}: {reason}"
                                                    for p in pictures))

    def test_connections_leave_the_same_workbook_and_pictures(self):
        """Reading ahead changes only the waiting: one connection and the
        default give the same sheet parts, byte for byte, and the same Images/,
        also where two products' pictures share a name and the first is
        refused."""
        self.start_shop("--products", 130, "--seed", 11, "--latency-ms", 5,
                        "--shared-picture-name")
        results = []
        for arguments in (["--connections", "1"], [], ["--connections", "16"]):
            folder = tempfile.mkdtemp(prefix="zp-connections-")
            self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
            shutil.copy2(PROGRAM, folder)
            run = Run(folder, "--headless", *arguments)
            self.assertEqual(run.finish(RUN_SECONDS), 0, run.lines + [run.stderr_text])
            with zipfile.ZipFile(os.path.join(folder, WORKBOOK)) as book:
                parts = {name: book.read(name) for name in book.namelist()
                         if name.startswith("xl/") and name.endswith(".xml")}
            images = os.path.join(folder, "Images")
            pictures = {name: file_hash(os.path.join(images, name))
                        for name in os.listdir(images)}
            results.append((parts, pictures))
        self.assertIn("xl/worksheets/sheet1.xml", results[0][0])
        self.assertGreater(len(results[0][1]), 100)
        self.assertTrue("uusinta.png" in results[0][1], "no uusinta.png in Images/")
        for parts, pictures in results[1:]:
            self.assertEqual(sorted(parts), sorted(results[0][0]))
            for name, data in parts.items():
                self.assertEqual(data, results[0][0][name], name)
            self.assertEqual(pictures, results[0][1])

    def test_kill_right_after_a_save_keeps_the_pictures_of_the_saved_rows(self):
        """Pictures download in the background, but a save waits for those of
        the rows it saves: a kill straight after it loses none of them."""
        shop = self.start_shop("--products", 130, "--seed", 13, "--picture-latency-ms", 400)
        run = Run(self.folder, "--headless", "--connections", "8")
        after_save = run.wait_for_line(
            lambda l: bool(PRODUCT_LINE.match(l)) and int(PRODUCT_LINE.match(l).group(1)) > 100)
        run.signal(signal.SIGKILL)
        run.finish()
        self.assertIsNotNone(after_save, run.lines)
        saved = workbook_order_numbers(self.workbook())
        self.assertEqual(len(saved), 100)
        pictures = {p["order_number"]: os.path.basename(p["picture_path"])
                    for p in shop.manifest()["products"] if p["picture_path"]}
        images = os.path.join(self.folder, "Images")
        missing = [n for n in saved if n in pictures
                   and not os.path.isfile(os.path.join(images, pictures[n]))]
        self.assertEqual(missing, [])

    def test_sigterm_saves_only_rows_whose_pictures_are_over(self):
        """A stop waits for the pictures of the rows it saves, on a shop whose
        pictures take 600 ms, and still ends within a few seconds. A second
        stop during that wait ends it, and the save leaves out the rows from
        the first whose picture it gave up: the report, the last progress line
        and the file count the same rows, each with its picture on disk."""
        shop = self.start_shop("--products", 160, "--seed", 17, "--latency-ms", 5,
                               "--picture-latency-ms", 600)
        catalogue = shop.order_numbers()
        pictures = {p["order_number"]: os.path.basename(p["picture_path"])
                    for p in shop.manifest()["products"] if p["picture_path"]}
        stop_seconds = {1: [], 2: []}
        # At the 100th product the stop comes during the periodic save's wait;
        # at the 105th, during the wait of the save that ends the run.
        for stops, at_product in ((1, 100), (1, 100), (1, 100), (2, 100), (2, 105), (2, 105)):
            self.folder = tempfile.mkdtemp(prefix="zp-stop-")
            self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
            shutil.copy2(PROGRAM, self.folder)
            run = Run(self.folder, "--headless")
            seen = run.wait_for_line(lambda l: bool(PRODUCT_LINE.match(l))
                                     and int(PRODUCT_LINE.match(l).group(1)) >= at_product)
            self.assertIsNotNone(seen, run.lines)
            run.signal(signal.SIGTERM)
            signalled = time.monotonic()
            if stops == 2:
                time.sleep(0.2)
                self.assertIsNone(run.process.poll(), "the first stop did not wait for pictures")
                run.signal(signal.SIGTERM)
                second = time.monotonic()
            status = run.process.wait(timeout=RUN_SECONDS)
            ended = time.monotonic()
            stop_seconds[stops].append((ended - signalled, ended - second if stops == 2 else None))
            status = run.finish()

            if stops == 1:
                self.check_stopped_run(run, status, catalogue)
                saved = workbook_order_numbers(self.workbook())
            else:
                saved = self.check_run_stopped_twice(run, status)
            images = os.path.join(self.folder, "Images")
            missing = [n for n in saved if n in pictures
                       and not os.path.isfile(os.path.join(images, pictures[n]))]
            self.assertEqual(missing, [], run.stderr_text)
        for stops, seconds in stop_seconds.items():
            print(f"{stops} stop(s), first signal to exit, s: "
                  + " ".join(f"{first:.2f}" for first, _ in seconds), file=sys.stderr)
        print("2 stops, second signal to exit, s: "
              + " ".join(f"{s:.2f}" for _, s in stop_seconds[2]), file=sys.stderr)

    def check_run_stopped_twice(self, run, status, must_leave_out=True):
        """The file holds the first products written, as many as reported and
        as the last progress line counts (and, must_leave_out, fewer than were
        written); returns their order numbers."""
        self.assertEqual(status, 3, run.lines + [run.stderr_text])
        self.assertEqual(run.lines.index(STOPPED) + 1, run.lines.index(FINISHED), run.lines)
        self.check_file_line(run)
        reported = self.reported_count(run)
        progress = [l for l in run.lines if PRODUCT_LINE.match(l)]
        self.assertEqual(int(PRODUCT_LINE.match(progress[-1]).group(1)), reported, run.lines)
        written = [re.search(r"/(ZV-\d+)\.\.\.$", l).group(1)
                   for l in progress if l.endswith("...") and "/ZV-" in l]
        stored = workbook_order_numbers(self.workbook())
        self.assertEqual(len(stored), reported)
        self.assertEqual(sorted(stored), sorted(written[:reported]))
        if must_leave_out:
            self.assertLess(reported, len(written), "the second stop gave up no picture")
        print(f"2 stops: {reported} of {len(written)} products written saved", file=sys.stderr)
        return stored

    def failing_product_shop(self, *options):
        probe = Shop("--products", 20, "--seed", 9)
        try:
            products = probe.manifest()["products"]
        finally:
            probe.stop()
        failing = products[5]
        return self.start_shop("--products", 20, "--seed", 9, "--fail-path", failing["path"],
                               *options), failing

    def test_unattended_run_tries_a_failed_page_again_before_the_question(self):
        shop, _ = self.failing_product_shop("--fail-times", 2)
        run, status = self.run_to_end()
        self.assertEqual(status, 0, run.lines)
        self.assertFalse([l for l in run.lines if l.startswith("Попробовать еще раз?")])
        self.assertEqual(sorted(workbook_order_numbers(self.workbook())), shop.order_numbers())

    def test_skip_failed_products_goes_on_to_the_end(self):
        shop, failing = self.failing_product_shop()
        run = Run(self.folder, "--headless", "--retries", "0", "--skip-failed-products")
        status = run.finish(RUN_SECONDS)
        # Walked to the end, but the next run has a product to fill in.
        self.assertEqual(status, 4, run.lines)
        self.assertIn("Товар пропущен, страница недоступна: ", run.stderr_text)
        self.assertIn(failing["path"], run.stderr_text)
        expected = [n for n in shop.order_numbers() if n != failing["order_number"]]
        self.assertEqual(sorted(workbook_order_numbers(self.workbook())), expected)

    def fresh_folder(self):
        folder = tempfile.mkdtemp(prefix="zp-headless-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        shutil.copy2(PROGRAM, folder)
        return folder

    def test_dropped_product_page_is_skipped_within_seconds(self):
        """A connection closed or reset without an answer is a fault that may
        pass: tried again after the back-off, never after a minute of waiting."""
        for how in ("close", "reset"):
            with self.subTest(how=how):
                self.stop_shop()  # the probe of the next shop needs the port
                shop, failing = self.failing_product_shop("--fail-answer", how)
                folder = self.fresh_folder()
                started = time.monotonic()
                run = Run(folder, "--headless", "--retries", "2", "--skip-failed-products")
                status = run.finish(RUN_SECONDS)
                elapsed = time.monotonic() - started
                # Walked to the end, with a product left for the next run.
                self.assertEqual(status, 4, run.lines + [run.stderr_text])
                self.assertLess(elapsed, 15)
                address = f"http://127.0.0.1:{PORT}{failing['path']}"
                self.assertEqual(run.stderr_text.count(f"Не удалось загрузить {address}: "), 3,
                                 run.stderr_text)
                self.assertIn("Товар пропущен, страница недоступна: " + address, run.stderr_text)
                expected = [n for n in shop.order_numbers() if n != failing["order_number"]]
                self.assertEqual(sorted(workbook_order_numbers(os.path.join(
                    os.path.realpath(folder), WORKBOOK))), expected)

    def test_throttled_page_waits_and_comes_without_a_question(self):
        """429 with and without Retry-After: the page is tried again on its own,
        whatever --retries says, with a terminal too; stderr tells of the
        slow-down once."""
        for retry_after in (("--retry-after", "1"), ()):
            with self.subTest(retry_after=retry_after):
                self.stop_shop()  # the probe of the next shop needs the port
                shop, _ = self.failing_product_shop(
                    "--fail-answer", "429", "--fail-times", "2", *retry_after)
                folder = self.fresh_folder()
                answers, terminal = pty.openpty()
                self.addCleanup(os.close, answers)
                try:
                    run = Run(folder, "--headless", "--retries", "0", stdin=terminal)
                finally:
                    os.close(terminal)
                os.write(answers, b"n\n")  # a question would stop the run
                status = run.finish(RUN_SECONDS)
                self.assertEqual(status, 0, run.lines + [run.stderr_text])
                self.assertFalse([l for l in run.lines if "Попробовать еще раз?" in l], run.lines)
                self.assertEqual(run.stderr_text.count("Сайт просит загружать медленнее"), 1,
                                 run.stderr_text)
                self.assertEqual(sorted(workbook_order_numbers(os.path.join(
                    os.path.realpath(folder), WORKBOOK))), shop.order_numbers())

    def test_first_listing_page_failing_once_is_tried_again(self):
        shop = self.start_shop("--products", 12, "--seed", 9, "--fail-path",
                               "/catalog/3833/Zavrinello", "--fail-times", 1)
        run, status = self.run_to_end()
        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        self.assertEqual(sorted(workbook_order_numbers(self.workbook())), shop.order_numbers())

    def test_failed_repair_of_a_stored_product_leaves_it_for_a_later_run(self):
        """The page of a stored product whose picture is missing cannot be had:
        one line on stderr, no question, nothing skipped, and the new products
        are still written."""
        first = self.start_shop("--products", 20, "--seed", 9)
        stored = next(p for p in first.manifest()["products"] if p["picture_path"])
        run, status = self.run_to_end()
        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        os.remove(os.path.join(os.path.realpath(self.folder), "Images", stored["picture"]))
        shop = self.start_shop("--products", 20, "--seed", 9, "--new-products", 3,
                               "--fail-path", stored["path"])

        run, status = self.run_to_end()

        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        self.assertEqual(self.reported_count(run), 3)
        self.assertFalse([l for l in run.lines if "Попробовать еще раз?" in l], run.lines)
        self.assertNotIn("Товар пропущен", run.stderr_text)
        repair = [l for l in run.stderr_text.splitlines()
                  if l.startswith("Картинка уже загруженного товара оставлена")]
        self.assertEqual(repair, ["Картинка уже загруженного товара оставлена до следующего "
                                  "запуска, страница недоступна: "
                                  f"http://127.0.0.1:{PORT}{stored['path']}: 500"])
        self.assertEqual(sorted(workbook_order_numbers(self.workbook())), shop.order_numbers())

    def test_skip_failed_products_leaves_a_no_on_a_terminal_to_stop_the_run(self):
        self.failing_product_shop()
        answers, terminal = pty.openpty()
        self.addCleanup(os.close, answers)
        try:
            run = Run(self.folder, "--headless", "--skip-failed-products", stdin=terminal)
        finally:
            os.close(terminal)
        os.write(answers, b"n\n")
        status = run.finish(RUN_SECONDS)
        self.assertEqual(len([l for l in run.lines if l.startswith("Попробовать еще раз?")]), 1,
                         run.lines)
        self.assertNotIn("Товар пропущен", run.stderr_text)
        self.assertEqual(len(workbook_order_numbers(self.workbook())), 5)
        self.assertNotEqual(status, 0)

    def test_no_shop_reports_no_access_and_fails(self):
        # A refused connection is known at once; the first page is tried again
        # as --retries says before the run gives up.
        self.assertTrue(port_is_free(), f"something listens on port {PORT}")

        run, status = self.run_to_end(NO_SHOP_RUN_SECONDS)

        self.assertEqual(status, 1, run.lines + [run.stderr_text])
        self.assertIn(NO_ACCESS, run.lines)
        self.assertNotIn(FINISHED, run.lines)
        self.assertFalse(os.path.exists(self.workbook()))

    def test_folder_option_places_workbook_and_pictures(self):
        self.start_shop("--products", 4, "--seed", 17)
        run = Run(self.folder, "--headless", "--folder", "sub/dir")
        status = run.finish()

        target = os.path.join(os.path.realpath(self.folder), "sub", "dir")
        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        self.assertEqual(run.lines[-1], "Файл: " + os.path.join(target, WORKBOOK))
        self.assertEqual(len(workbook_order_numbers(os.path.join(target, WORKBOOK))), 4)
        self.assertTrue(os.listdir(os.path.join(target, "Images")))
        self.assertFalse(os.path.exists(self.workbook()))

    def test_unwritable_program_folder_sends_files_to_documents(self):
        """An installed program: its folder is not the user's to write, so the
        files go to ~/Documents/Zavrinello, made when missing."""
        self.start_shop("--products", 3, "--seed", 19)
        home = tempfile.mkdtemp(prefix="zp-home-")
        self.addCleanup(shutil.rmtree, home, ignore_errors=True)
        environment = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        environment["HOME"] = home
        prefix = ()
        os.chmod(self.folder, 0o555)
        self.addCleanup(os.chmod, self.folder, 0o755)
        if os.geteuid() == 0:
            # Permissions do not bind root: the run is made by nobody.
            nobody = 65534
            os.chown(home, nobody, nobody)
            prefix = ("setpriv", f"--reuid={nobody}", f"--regid={nobody}", "--clear-groups")
        run = Run(self.folder, "--headless", prefix=prefix, environment=environment)
        status = run.finish()

        target = os.path.join(home, "Documents", "Zavrinello", WORKBOOK)
        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        self.assertEqual(run.lines[-1], "Файл: " + target)
        self.assertEqual(len(workbook_order_numbers(target)), 3)
        self.assertEqual(os.listdir(self.folder), [os.path.basename(PROGRAM)])

    def make_read_only(self, folder):
        """Root writes through permissions: a read-only bind mount binds it."""
        if os.geteuid() != 0:
            os.chmod(folder, 0o555)
            self.addCleanup(os.chmod, folder, 0o755)
            return
        subprocess.run(["mount", "--bind", folder, folder], check=True)
        self.addCleanup(subprocess.run, ["umount", folder], check=True)
        subprocess.run(["mount", "-o", "remount,ro,bind", folder], check=True)

    def test_workbook_in_a_read_only_program_folder_stops_before_the_crawl(self):
        """The workbook beside the program is used, also where it cannot be
        saved: the run says so and starts no second workbook elsewhere."""
        self.start_shop("--products", 3, "--seed", 19)
        first, status = self.run_to_end()
        self.assertEqual(status, 0, first.lines)
        before = file_hash(self.workbook())
        contents = sorted(os.listdir(self.folder))
        home = tempfile.mkdtemp(prefix="zp-home-")
        self.addCleanup(shutil.rmtree, home, ignore_errors=True)
        environment = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        environment["HOME"] = home
        self.make_read_only(self.folder)

        run = Run(self.folder, "--headless", environment=environment)
        status = run.finish()

        self.assertEqual(status, 1, run.lines + [run.stderr_text])
        folder = os.path.realpath(self.folder)
        self.assertIn(f"Не удалось сохранить файл {self.workbook()}: запись в папку {folder} "
                      "невозможна.", run.lines)
        self.assertFalse([l for l in run.lines if PRODUCT_LINE.match(l)], run.lines)
        self.assertNotIn(FINISHED, run.lines)
        self.assertEqual(file_hash(self.workbook()), before)
        self.assertEqual(sorted(os.listdir(self.folder)), contents)
        self.assertEqual(os.listdir(home), [])

    def test_files_that_cannot_be_used_are_named_with_the_systems_reason(self):
        """The message the program has always shown, on standard output, and
        the system's reason for it beneath, on standard error; the run ends
        before the crawl."""
        self.start_shop("--products", 2, "--seed", 29)
        first, status = self.run_to_end()
        self.assertEqual(status, 0, first.lines)
        with open(self.workbook(), "rb") as saved:
            stored = saved.read()
        os.chmod(self.folder, 0o755)  # nobody runs the program too
        root = os.geteuid() == 0
        # The system's texts as this test's strerror() gives them.
        environment = dict(os.environ, LC_ALL="C.UTF-8")

        def workbook(case, data=stored):
            with open(os.path.join(case, WORKBOOK), "wb") as copy:
                copy.write(data)

        # Permissions do not bind root: such runs are made by nobody.
        as_nobody = {"prefix": ("setpriv", "--reuid=nobody", "--regid=nogroup",
                                "--clear-groups") if root else ()}

        def unreadable(case):
            workbook(case)
            os.chmod(os.path.join(case, WORKBOOK), 0)
            return as_nobody

        def unwritable_images(case):
            workbook(case)
            os.chmod(case, 0o777)
            os.chmod(os.path.join(case, WORKBOOK), 0o666)
            os.mkdir(os.path.join(case, "Images"), 0o555)
            return as_nobody

        def file_size_limit(case):
            workbook(case)
            def limit():
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (1024, resource.RLIM_INFINITY))
            return {"preexec_fn": limit}

        def full_disk(case):
            if not root:
                self.skipTest("mounting a small disk needs root")
            subprocess.run(["mount", "-t", "tmpfs", "-o", "size=200k", "tmpfs", case], check=True)
            self.addCleanup(subprocess.run, ["umount", case], check=True)
            workbook(case)
            with open(os.path.join(case, "filler"), "wb", buffering=0) as filler:
                with self.assertRaises(OSError):
                    while True:
                        filler.write(b"\0" * 4096)

        def read_only(case):
            workbook(case)
            self.make_read_only(case)

        def file_where_a_folder_belongs(case):
            open(os.path.join(case, "plain"), "w").close()
            return {"folder": os.path.join(case, "plain", "sub")}

        not_saved = "Не удалось сохранить файл {}."
        not_saved_for = "Не удалось сохранить файл {}: "
        for name, prepare, message, reason in [
            ("missing folder", lambda case: {"folder": "/proc/nope"}, not_saved, errno.ENOENT),
            ("file where a folder belongs", file_where_a_folder_belongs, not_saved, errno.ENOTDIR),
            ("damaged workbook", lambda case: workbook(case, stored[:len(stored) // 2]),
             "Не удалось найти файл {}.", "not a readable zip file: Not a zip archive"),
            ("no permission", unreadable, "Не удалось открыть файл {}: нет права на чтение.",
             errno.EACCES),
            ("file-size limit", file_size_limit,
             not_saved_for + "система не позволяет записать файл такого размера.", errno.EFBIG),
            ("full disk", full_disk, not_saved_for + "на диске нет свободного места.", errno.ENOSPC),
            ("Images closed to writing", unwritable_images,
             "Не удалось сохранить картинки: {1}/Images — папка недоступна для записи.",
             errno.EACCES),
            ("read-only folder", read_only, not_saved_for + "запись в папку {} невозможна.",
             errno.EROFS if root else errno.EACCES),
        ]:
            with self.subTest(name):
                case = tempfile.mkdtemp(dir=self.folder)
                os.chmod(case, 0o755)
                options = prepare(case) or {}
                folder = options.get("folder", case)
                run = Run(self.folder, "--headless", "--folder", folder, environment=environment,
                          prefix=options.get("prefix", ()), preexec_fn=options.get("preexec_fn"))
                status = run.finish()

                self.assertEqual(status, 1, run.lines + [run.stderr_text])
                self.assertIn(message.format(os.path.join(folder, WORKBOOK), folder), run.lines)
                because = [l for l in run.stderr_text.splitlines() if l.startswith("Причина: ")]
                self.assertEqual(len(because), 1, run.stderr_text)
                self.assertTrue(because[0].endswith(reason if isinstance(reason, str)
                                                    else os.strerror(reason)), because)
                self.assertFalse([l for l in run.lines if PRODUCT_LINE.match(l)], run.lines)

    def test_installed_program_writes_to_documents_even_where_it_may_write(self):
        self.start_shop("--products", 2, "--seed", 23)
        program_folder = os.path.join(self.folder, "usr", "bin")
        os.makedirs(program_folder)
        shutil.move(os.path.join(self.folder, os.path.basename(PROGRAM)), program_folder)
        applications = os.path.join(self.folder, "usr", "share", "applications")
        os.makedirs(applications)
        open(os.path.join(applications, "zavrinello-parser.desktop"), "w").close()
        home = os.path.join(self.folder, "home")
        environment = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        environment["HOME"] = home

        run = Run(program_folder, "--headless", environment=environment)
        status = run.finish()

        target = os.path.join(os.path.realpath(home), "Documents", "Zavrinello", WORKBOOK)
        self.assertEqual(status, 0, run.lines + [run.stderr_text])
        self.assertEqual(run.lines[-1], "Файл: " + target)
        self.assertEqual(len(workbook_order_numbers(target)), 2)
        self.assertEqual(os.listdir(program_folder), [os.path.basename(PROGRAM)])

    def test_workbook_failing_the_layout_check_is_left_unchanged(self):
        self.start_shop("--products", 5, "--seed", 11)
        first, status = self.run_to_end()
        self.assertEqual(status, 0, first.lines)
        book = openpyxl.load_workbook(self.workbook())
        book.worksheets[0]["C1"] = "x"
        book.save(self.workbook())
        before = file_hash(self.workbook())

        run, status = self.run_to_end()

        self.assertEqual(status, 1, run.lines + [run.stderr_text])
        self.assertIn('Неверный формат файла "Zavrinello.xls".', run.lines)
        self.assertNotIn(FINISHED, run.lines)
        self.assertEqual(file_hash(self.workbook()), before)

    def test_workbook_open_in_libreoffice_without_terminal_is_left_alone(self):
        self.start_shop("--products", 5, "--seed", 11)
        first, status = self.run_to_end()
        self.assertEqual(status, 0, first.lines)
        lock = os.path.join(self.folder, ".~lock." + WORKBOOK + "#")
        with open(lock, "w", encoding="utf-8") as out:
            out.write(",ivan,desk7,07.12.2026 10:00,file:///home/ivan/.config/libreoffice/4;")
        before = file_hash(self.workbook())

        run, status = self.run_to_end()

        self.assertEqual(status, 1, run.lines + [run.stderr_text])
        self.assertIn("Продолжить? [y/N] n", run.lines)
        self.assertTrue(any("(LibreOffice, пользователь ivan на компьютере desk7)" in l
                            for l in run.lines), run.lines)
        self.assertNotIn(FINISHED, run.lines)
        self.assertEqual(file_hash(self.workbook()), before)

    def test_signal_at_start_is_a_clean_stop(self):
        self.start_shop("--products", 5, "--seed", 11)
        run = Run(self.folder, "--headless")
        # From the moment the program holds the signal back (its first step),
        # well before the run has set anything up.
        deadline = time.monotonic() + 10
        while not signal_held(run.process.pid, signal.SIGTERM) and time.monotonic() < deadline:
            time.sleep(0.001)
        self.assertTrue(signal_held(run.process.pid, signal.SIGTERM))
        run.signal(signal.SIGTERM)
        status = run.finish()

        # Not killed by the signal, and a stop however early it comes.
        self.assertEqual(status, 3, run.lines + [run.stderr_text])
        self.assertIn(STOPPED, run.lines)
        self.assertNotIn(NO_ACCESS, run.lines)

    def test_sigterm_while_the_first_page_is_held_is_a_stop(self):
        self.start_shop("--products", 5, "--seed", 11, "--latency-ms", 3000)
        run = Run(self.folder, "--headless")
        deadline = time.monotonic() + 10
        while not connected_to_shop() and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertTrue(connected_to_shop())
        time.sleep(0.2)
        run.signal(signal.SIGTERM)
        status = run.finish()

        self.assertEqual(status, 3, run.lines + [run.stderr_text])
        self.assertEqual(run.lines[:3], [STOPPED, FINISHED, "Было загружено 0 новых товаров."])
        self.assertNotIn(NO_ACCESS, run.lines)
        self.assertEqual(run.stderr_text, "")
        self.assertEqual(os.listdir(self.folder), [os.path.basename(PROGRAM)])


class CommandLineTest(unittest.TestCase):
    def run_program(self, *arguments):
        # Qt's texts are Russian whatever the locale.
        environment = {k: v for k, v in os.environ.items()
                       if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANG",
                                    "LANGUAGE") and not k.startswith("LC_")}
        environment["LC_ALL"] = "C.UTF-8"
        return subprocess.run([PROGRAM, *arguments], env=environment, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=60)

    def test_help_and_version(self):
        for arguments, pattern in [
                (["--help"], r"Использование: \S*zavrinello-parser-demo \[параметры\]"
                             r"[\s\S]*Параметры:[\s\S]*--folder[\s\S]*--headless"),
                (["-h"], r"Использование: [\s\S]*--headless"),
                # Qt's own arguments are Qt's application object's to take.
                (["-platform", "offscreen", "-style=Fusion", "--help"], r"Использование: "),
                (["--version"], r"^zavrinello-parser \d+\.\d+\.\d+\n$"),
                (["-v"], r"^zavrinello-parser \d+\.\d+\.\d+\n$")]:
            with self.subTest(arguments=arguments):
                result = self.run_program(*arguments)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertRegex(result.stdout, pattern)
                self.assertEqual(result.stderr, "")

    def test_usage_errors(self):
        for arguments, named in [(["--frobnicate"], "frobnicate"),
                                 (["--headless", "--frobnicate"], "frobnicate"),
                                 (["--help-all"], "help-all"),
                                 (["Zavrinello.xlsx"], "Zavrinello.xlsx"),
                                 (["--headless", "extra"], "extra"),
                                 (["--headless", "--connections", "0"], "0"),
                                 (["--headless", "--connections", "17"], "17"),
                                 (["--connections", "many"], "many"),
                                 (["-style", "Fusion", "--frobnicate"], "frobnicate")]:
            with self.subTest(arguments=arguments):
                result = self.run_program(*arguments)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                self.assertIn(named, result.stderr)
                self.assertIn("Использование:", result.stderr)
                self.assertIn("--headless", result.stderr)

    @unittest.skipUnless(os.environ.get("ZP_PROGRAM_HAS_WINDOW", "1") == "1",
                         "a build without the window shows no message box")
    def test_usage_error_without_a_terminal_waits_in_a_message_box(self):
        """Started from the desktop, the error is shown on the screen: the
        program waits for the box's OK (the offscreen screen has nobody to
        press it); with a terminal on standard input it only prints."""
        environment = {k: v for k, v in os.environ.items()
                       if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        environment["QT_QPA_PLATFORM"] = "offscreen"
        process = subprocess.Popen([PROGRAM, "--frobnicate"], env=environment,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        with self.assertRaises(subprocess.TimeoutExpired):
            process.wait(timeout=3)
        process.kill()
        _, errors = process.communicate()
        self.assertTrue(errors.startswith("Неизвестный параметр: frobnicate\n"), errors)

        answers, terminal = pty.openpty()
        try:
            result = subprocess.run([PROGRAM, "--frobnicate"], env=environment, stdin=terminal,
                                    capture_output=True, text=True, timeout=60)
        finally:
            os.close(terminal)
            os.close(answers)
        self.assertEqual(result.returncode, 2)
        self.assertIn("frobnicate", result.stderr)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
