#!/usr/bin/env python3
"""Self-test of the demo shop: its pages must read right with the parser's plain
marker search, which has no HTML parser and no tolerance for other whitespace."""

import http.client
import json
import os
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_shop  # noqa: E402

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "demo_shop.py")

SUB_LISTING_MARKER = '<div class="title"><a href="'
PRODUCT_LINK_MARKER = '<td class="first"><a href="'
ORDER_NUMBER_MARKER = "Tilausnumero</th>\n\t<td>"
BREADCRUMB_MARKER = '<a href="/catalog/">Tolmari</a>'
DESCRIPTION_MARKER = 'Kuvaus</th>\n\t<td valign="top">'
PROPERTIES_TABLE_MARKER = '<table class="productproperties">'
PROPERTY_NAME_MARKER = '<th width="30%">'


def extract_between(text, start_marker, end_marker, from_pos):
    """The parser's marker cut, 1-based: (piece, end position, start position)."""
    s = text.find(start_marker, max(from_pos, 1) - 1) + 1
    if s == 0:
        return "", 0, 0
    d = s + len(start_marker)
    e = text.find(end_marker, d - 1) + 1
    if e == 0:
        return "", 0, s
    return text[d - 1:e - 1], e, s


def crawl_order(fetch):
    """Product links in the order the parser's listing walk visits them: sub-listing
    links depth-first first, then the product links behind the last of them."""
    visited = []

    def walk(text):
        pos = 1
        while True:
            link, end, _ = extract_between(text, SUB_LISTING_MARKER, '"', pos)
            if not link:
                break
            pos = end
            walk(fetch(link))
        while True:
            link, end, _ = extract_between(text, PRODUCT_LINK_MARKER, '"', pos)
            if not link:
                return
            visited.append(link)
            pos = end

    walk(fetch(demo_shop.FIRST_LISTING_PATH))
    return visited


def read_product(text, image_base):
    """What the parser's product reader takes out of a page, step by step."""
    row = {"categories": [], "category_links": [], "picture_path": None,
           "properties": {}, "accessories": []}
    row["order_number"] = extract_between(text, ORDER_NUMBER_MARKER, "</td>", 1)[0]
    pos = 0
    block = extract_between(text, BREADCRUMB_MARKER, "</div>", 1)[0]
    if block:
        pos = 1
        while True:
            link, end, _ = extract_between(block, '<a href="', '"', pos)
            if not link:
                break
            pos = end
            name, end, _ = extract_between(block, ">", "<", pos)
            if name:
                row["categories"].append(name)
                row["category_links"].append(link)
            pos = end
            if not name:
                break
    picture, end, _ = extract_between(text, '<img src="' + image_base, '"', pos)
    if picture:
        row["picture_path"] = picture
        pos = end
    row["description"] = extract_between(text, DESCRIPTION_MARKER, "</td>", pos)[0]
    pos = text.find(PROPERTIES_TABLE_MARKER, max(pos, 1) - 1) + 1
    if pos == 0:
        return row
    while True:
        name, close, _ = extract_between(text, PROPERTY_NAME_MARKER, "</th>", pos)
        if not name:
            break
        value, _, value_start = extract_between(text, "<td>", "</td>", close)
        if value_start == 0 or value_start - close < 14:
            row["properties"][name] = value
        else:
            row["properties"][name] = None
        pos = close
    while True:
        link, end, _ = extract_between(text, PRODUCT_LINK_MARKER, '"', pos)
        if not link:
            break
        pos = end
        name = extract_between(text, ">", "<", pos)[0]
        if name:
            row["accessories"].append(name)
    return row


def png_pixels(data):
    """Checks a PNG's structure and CRCs; returns (width, height, raw scanlines)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG signature")
    pos, chunks = 8, []
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            raise ValueError(f"bad CRC in {kind!r}")
        chunks.append((kind, body))
        pos += 12 + length
    if chunks[0][0] != b"IHDR" or chunks[-1][0] != b"IEND":
        raise ValueError("chunks out of order")
    width, height, bits, colour_type = struct.unpack(">IIBB", chunks[0][1][:10])
    if (bits, colour_type) != (8, 2):
        raise ValueError("not 8-bit RGB")
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    return width, height, raw


class RunningShop:
    """A shop server on a free port in this process, stopped with the test."""

    def __init__(self, catalogue, **options):
        self.server = demo_shop.ShopServer(catalogue, 0, **options)
        self.thread = threading.Thread(target=self.server.serve_forever,
                                       kwargs={"poll_interval": 0.05}, daemon=True)
        self.thread.start()
        self.connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)

    def get(self, path):
        self.connection.request("GET", path)
        response = self.connection.getresponse()
        return response, response.read()

    def text(self, path):
        response, body = self.get(path)
        if response.status != 200:
            raise AssertionError(f"{path}: {response.status}")
        return body.decode("utf-8")

    def close(self):
        self.connection.close()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()


class ShopPagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.catalogue = demo_shop.Catalogue(products=60, depth=3, branching=3, seed=7,
                                            no_picture_share=0.2)
        cls.manifest = cls.catalogue.manifest()
        cls.shop = RunningShop(cls.catalogue)

    @classmethod
    def tearDownClass(cls):
        cls.shop.close()

    def test_first_listing_answers_ok_in_utf8_on_one_connection(self):
        for _ in range(2):  # the second request reuses the kept-alive connection
            response, body = self.shop.get(demo_shop.FIRST_LISTING_PATH)
            self.assertEqual((response.status, response.reason), (200, "OK"))
            self.assertEqual(response.getheader("Content-Type"), "text/html; charset=utf-8")
            self.assertEqual(int(response.getheader("Content-Length")), len(body))
            text = body.decode("utf-8")
            self.assertIn('<meta charset="utf-8">', text)
        self.assertTrue(any(ord(ch) > 127 for lst in self.manifest["listings"]
                            for ch in lst["name"]), "no Finnish letters in the category names")

    def test_unknown_path_is_not_found(self):
        for path in ("/catalog/1/nothing", "/product/3834/x/ZV-00000", "/picture/1/ZV-00000.png"):
            with self.subTest(path=path):
                response, _ = self.shop.get(path)
                self.assertEqual(response.status, 404)

    def test_walk_by_markers_reaches_every_product_once_in_manifest_order(self):
        visited = crawl_order(self.shop.text)
        self.assertEqual(visited, [p["path"] for p in self.manifest["products"]])
        self.assertEqual(len(set(visited)), len(self.catalogue.products))
        both = [lst for lst in self.manifest["listings"] if lst["sub_listings"] and lst["products"]]
        self.assertTrue(both, "no listing page shows sub-listings and products together")

    def test_product_pages_read_back_as_the_manifest(self):
        image_base = self.shop.server.image_base
        for expected in self.manifest["products"]:
            with self.subTest(product=expected["order_number"]):
                text = self.shop.text(expected["path"])
                self.assertEqual(expected["path"].rsplit("/", 1)[1], expected["order_number"])
                row = read_product(text, image_base)
                for key in ("order_number", "categories", "category_links", "picture_path",
                            "description", "properties", "accessories"):
                    self.assertEqual(row[key], expected[key], key)
                self.assertNotIn("", row["properties"])

    def test_product_markers_stand_in_reading_order(self):
        image_base = self.shop.server.image_base
        for expected in self.manifest["products"]:
            with self.subTest(product=expected["order_number"]):
                text = self.shop.text(expected["path"])
                markers = [BREADCRUMB_MARKER, DESCRIPTION_MARKER, PROPERTIES_TABLE_MARKER,
                           PROPERTY_NAME_MARKER]
                if expected["picture_path"]:
                    markers.insert(1, '<img src="' + image_base)
                positions = [text.find(m) for m in markers]
                self.assertNotIn(-1, positions)
                self.assertEqual(positions, sorted(positions))
                self.assertEqual(text.count(ORDER_NUMBER_MARKER), 1)
                self.assertEqual(text.count(BREADCRUMB_MARKER), 1)
                table_end = text.find("</table>", text.find(PROPERTIES_TABLE_MARKER))
                self.assertEqual(text.count(PROPERTY_NAME_MARKER, table_end), 0)
                self.assertEqual(text.count(PRODUCT_LINK_MARKER, 0, table_end), 0)

    def test_pictures_are_png_files_over_256_bytes(self):
        with_picture = [p for p in self.manifest["products"] if p["picture_path"]]
        self.assertTrue(with_picture)
        self.assertLess(len(with_picture), len(self.manifest["products"]))
        for product in with_picture:
            with self.subTest(picture=product["picture_path"]):
                self.assertEqual(product["picture"], product["order_number"] + ".png")
                response, data = self.shop.get(demo_shop.PICTURE_ROUTE + product["picture_path"])
                self.assertEqual((response.status, response.reason), (200, "OK"))
                self.assertEqual(response.getheader("Content-Type"), "image/png")
                self.assertGreater(len(data), 256)
                width, height, raw = png_pixels(data)
                self.assertEqual(len(raw), height * (1 + 3 * width))


class ShopOptionsTest(unittest.TestCase):
    def test_same_seed_gives_same_catalogue_and_pictures(self):
        first = demo_shop.Catalogue(products=40, seed=3)
        second = demo_shop.Catalogue(products=40, seed=3)
        other = demo_shop.Catalogue(products=40, seed=4)
        self.assertEqual(first.manifest(), second.manifest())
        self.assertNotEqual(first.manifest()["products"], other.manifest()["products"])
        number = first.manifest()["products"][0]["order_number"]
        demo_shop.make_picture.cache_clear()
        picture = demo_shop.make_picture(3, number)
        demo_shop.make_picture.cache_clear()
        self.assertEqual(demo_shop.make_picture(3, number), picture)
        self.assertNotEqual(demo_shop.make_picture(4, number), picture)

    def test_catalogue_larger_than_the_short_names_gets_a_page_for_every_product(self):
        catalogue = demo_shop.Catalogue(products=15000, depth=1, branching=2)
        names = [p.name for p in catalogue.products.values()]
        self.assertEqual(len(catalogue.products), 15000)
        self.assertEqual(len(set(names)), 15000)

    def test_new_products_come_first_in_their_listings_and_keep_the_rest(self):
        before = demo_shop.Catalogue(products=30, seed=5).manifest()
        catalogue = demo_shop.Catalogue(products=30, seed=5, new_products=4)
        after = catalogue.manifest()
        fresh = [p for p in after["products"] if p["new"]]
        self.assertEqual(len(fresh), 4)
        self.assertEqual([p for p in after["products"] if not p["new"]], before["products"])
        shop = RunningShop(catalogue)
        try:
            visited = crawl_order(shop.text)
            self.assertEqual(visited, [p["path"] for p in after["products"]])
            for listing in after["listings"]:
                numbers = [p["order_number"] for p in after["products"]
                           if p["listing"] == listing["path"]]
                new_count = sum(1 for p in fresh if p["listing"] == listing["path"])
                new_numbers = {p["order_number"] for p in fresh}
                self.assertTrue(all(n in new_numbers for n in numbers[:new_count]))
                self.assertFalse(any(n in new_numbers for n in numbers[new_count:]))
        finally:
            shop.close()

    def test_latency_delays_every_answer(self):
        shop = RunningShop(demo_shop.Catalogue(products=3, depth=1), latency_ms=150)
        try:
            for _ in range(2):
                started = time.monotonic()
                shop.text(demo_shop.FIRST_LISTING_PATH)
                self.assertGreaterEqual(time.monotonic() - started, 0.15)
        finally:
            shop.close()

    def test_failing_path_answers_500_then_recovers_after_the_given_count(self):
        catalogue = demo_shop.Catalogue(products=3, depth=1)
        path = catalogue.manifest()["products"][0]["path"]
        shop = RunningShop(catalogue, fail_paths=["/product/"], fail_times=2)
        try:
            statuses = [shop.get(path)[0].status for _ in range(3)]
            self.assertEqual(statuses, [500, 500, 200])
            self.assertEqual(shop.get(demo_shop.FIRST_LISTING_PATH)[0].status, 200)
        finally:
            shop.close()

    def test_image_base_option_is_written_into_product_pages(self):
        catalogue = demo_shop.Catalogue(products=5, depth=1, no_picture_share=0)
        shop = RunningShop(catalogue, image_base="http://kuvat.example/picture")
        try:
            for product in catalogue.manifest()["products"]:
                row = read_product(shop.text(product["path"]), "http://kuvat.example/picture")
                self.assertEqual(row["picture_path"], product["picture_path"])
        finally:
            shop.close()


class CommandLineTest(unittest.TestCase):
    def test_manifest_lists_every_product(self):
        result = subprocess.run([sys.executable, SCRIPT, "--products", "12", "--depth", "2",
                                 "--seed", "9", "--print-manifest"],
                                capture_output=True, check=True, timeout=30)
        manifest = json.loads(result.stdout.decode("utf-8"))
        self.assertEqual(manifest, demo_shop.Catalogue(products=12, depth=2, seed=9).manifest())
        self.assertEqual(len(manifest["products"]), 12)

    def test_free_port_is_printed_and_written_and_sigterm_stops_the_shop(self):
        with tempfile.TemporaryDirectory() as folder:
            ready = os.path.join(folder, "port")
            process = subprocess.Popen([sys.executable, SCRIPT, "--port", "0", "--products", "5",
                                        "--ready-file", ready],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            try:
                port = int(process.stdout.readline())
                with open(ready, encoding="ascii") as f:
                    self.assertEqual(int(f.read()), port)
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                connection.request("GET", demo_shop.FIRST_LISTING_PATH)
                self.assertEqual(connection.getresponse().status, 200)
                connection.close()
                process.send_signal(signal.SIGTERM)
                self.assertEqual(process.wait(timeout=10), 0)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
                process.stdout.close()

    def test_bad_option_value_is_refused(self):
        result = subprocess.run([sys.executable, SCRIPT, "--depth", "99", "--print-manifest"],
                                capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"depth", result.stderr)


if __name__ == "__main__":
    unittest.main()
