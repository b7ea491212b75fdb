#!/usr/bin/env python3
"""A demo of the Tolmari web shop: serves a generated Zavrinello catalogue on
127.0.0.1 in the shop's markup, with product pictures, so that the parser can
crawl a real HTTP server. Standard library only.

Run `demo_shop.py --help` for the options; README.md has the URL layout.
"""

import argparse
import json
import os
import random
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse
import zlib
from dataclasses import dataclass, field
from functools import lru_cache
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

# The port the demo program is built to read; the build and the scripts read
# the same file.
PORT_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "port")
with open(PORT_FILE, encoding="ascii") as port_file:
    DEMO_PORT = int(port_file.read())

FIRST_LISTING_ID = 3833
FIRST_LISTING_NAME = "Zavrinello"
FIRST_LISTING_PATH = f"/catalog/{FIRST_LISTING_ID}/{FIRST_LISTING_NAME}"
SHOP_ROOT_PATH = "/catalog/"
PICTURE_ROUTE = "/picture"
PICTURE_SIZE = 64
SHARED_PICTURE_NAME = "uusinta.png"
# Less than the 256 bytes a parser keeps as a picture.
SHORT_PICTURE_BYTES = 100

# Order numbers all have five digits, so that no order number is part of
# another one (a part-of-cell search for one cannot hit a different product).
BASE_ORDER_NUMBERS = range(10000, 60000)
NEW_ORDER_NUMBERS = range(60000, 100000)
MAX_DEPTH = 12

TOP_CATEGORIES = [
    "Sähkötyökalut", "Akkutyökalut", "Käsityökalut", "Puutarhakoneet",
    "Mittalaitteet", "Lisävarusteet", "Varaosat", "Työvalot",
    "Paineilmatyökalut", "Hitsauslaitteet",
]
SUB_CATEGORIES = [
    "Porakoneet", "Hiomakoneet", "Sahat", "Ruuvinvääntimet", "Iskuporakoneet",
    "Kulmahiomakoneet", "Höylät", "Jyrsimet", "Akut ja laturit", "Terät",
    "Hiomatarvikkeet", "Säilytys", "Monitoimityökalut", "Lämpöpuhaltimet",
    "Poranterät", "Sahanterät", "Kiinnikkeet", "Suojaimet",
]

# (noun, model prefix, property names in the order the shop lists them)
PRODUCT_KINDS = [
    ("akkuporakone", "AP", ["Jännite", "Akun kapasiteetti", "Istukka", "Kierrosluku", "Paino", "Väri"]),
    ("iskuporakone", "IP", ["Teho", "Istukka", "Iskutaajuus", "Paino", "Pituus", "Väri"]),
    ("kulmahiomakone", "KH", ["Teho", "Laikan halkaisija", "Kierrosluku", "Paino", "Väri"]),
    ("epäkeskohiomakone", "EH", ["Teho", "Hiomalautasen halkaisija", "Kierrosluku", "Paino"]),
    ("pistosaha", "PS", ["Teho", "Iskunpituus", "Paino", "Pituus", "Väri"]),
    ("pyörösaha", "PY", ["Teho", "Terän halkaisija", "Leikkaussyvyys", "Paino"]),
    ("akkuruuvinväännin", "AR", ["Jännite", "Vääntömomentti", "Akun kapasiteetti", "Paino"]),
    ("poranterasarja", "PT", ["Materiaali", "Kappalemäärä", "Pituus"]),
    ("hiomapaperi", "HP", ["Karkeus", "Materiaali", "Kappalemäärä"]),
    ("akku", "AK", ["Jännite", "Akun kapasiteetti", "Paino"]),
    ("pikalaturi", "PL", ["Jännite", "Latausaika", "Paino"]),
    ("työkalulaukku", "TL", ["Materiaali", "Väri", "Pituus", "Paino"]),
]

PROPERTY_VALUES = {
    "Jännite": lambda r: r.choice(["10,8 V", "12 V", "18 V", "36 V"]),
    "Teho": lambda r: f"{r.choice([400, 550, 710, 750, 900, 1100, 1400, 2000])} W",
    "Paino": lambda r: f"{r.randint(3, 60) / 10:.1f} kg".replace(".", ","),
    "Pituus": lambda r: f"{r.randint(15, 60) * 10} mm",
    "Väri": lambda r: r.choice(["Sininen", "Musta", "Harmaa", "Keltainen", "Punainen", "Vihreä"]),
    "Materiaali": lambda r: r.choice(["Teräs", "HSS-teräs", "Alumiini", "Muovi", "Polyesteri",
                                      "Alumiinioksidi", "Kovametalli"]),
    "Akun kapasiteetti": lambda r: r.choice(["2,0 Ah", "4,0 Ah", "5,0 Ah"]),
    "Istukka": lambda r: r.choice(["10 mm", "13 mm"]),
    "Kierrosluku": lambda r: f"0–{r.choice([1500, 1800, 2800, 11000, 12000])} 1/min",
    "Iskutaajuus": lambda r: f"0–{r.choice([24000, 33000, 48000])} iskua/min",
    "Laikan halkaisija": lambda r: r.choice(["115 mm", "125 mm", "230 mm"]),
    "Hiomalautasen halkaisija": lambda r: r.choice(["125 mm", "150 mm"]),
    "Iskunpituus": lambda r: r.choice(["20 mm", "26 mm"]),
    "Terän halkaisija": lambda r: r.choice(["165 mm", "190 mm"]),
    "Leikkaussyvyys": lambda r: r.choice(["55 mm", "66 mm"]),
    "Vääntömomentti": lambda r: f"{r.choice([30, 45, 60, 80])} Nm",
    "Kappalemäärä": lambda r: f"{r.choice([5, 10, 13, 25, 50])} kpl",
    "Karkeus": lambda r: r.choice(["P60", "P80", "P120", "P180", "P240"]),
    "Latausaika": lambda r: f"{r.choice([30, 45, 60])} min",
    "Takuu": lambda r: r.choice(["2 vuotta", "3 vuotta"]),
}

DESCRIPTION_QUALITIES = ["kevyt ja tehokas", "kestävä", "monipuolinen",
                         "ammattilaiskäyttöön suunniteltu", "kätevä ja hiljainen"]
DESCRIPTION_USES = ["rakentamiseen ja remontointiin", "puun ja metallin työstöön",
                    "kotikäyttöön", "vaativiin töihin työmaalla", "huoltoon ja korjauksiin"]
DESCRIPTION_EXTRAS = ["Toimitus sisältää säilytyslaukun.", "Ergonominen kahva vähentää tärinää.",
                      "Tuotteella on kahden vuoden takuu.", "Sopii kaikkiin Zavrinello 18 V -akkuihin.",
                      "LED-valo valaisee työkohteen.", "Pölynpoistoliitäntä pitää työpisteen siistinä."]


@dataclass
class Listing:
    id: int
    name: str
    path: str
    trail: list                       # listings from the first one down to this one
    children: list = field(default_factory=list)
    products: list = field(default_factory=list)
    kinds: list = field(default_factory=list)


@dataclass
class Product:
    order_number: str
    name: str
    path: str
    listing: Listing
    price: str
    picture: object                   # address after the picture prefix, or None
    description: str
    properties: list                  # (name, value) in page order
    accessories: list = field(default_factory=list)   # Products
    new: bool = False


def slug(text):
    table = str.maketrans({"ä": "a", "ö": "o", "å": "a", "Ä": "A", "Ö": "O", "Å": "A"})
    out = []
    for ch in text.translate(table).lower():
        out.append(ch if ch.isascii() and ch.isalnum() else "-")
    return "-".join(part for part in "".join(out).split("-") if part)


class Catalogue:
    """The generated shop. The same arguments always give the same catalogue; the
    extra products of `new_products` only add to the catalogue of the same seed."""

    def __init__(self, products=60, depth=3, branching=3, seed=1, new_products=0,
                 no_picture_share=0.1):
        if products < 0 or products > len(BASE_ORDER_NUMBERS):
            raise ValueError(f"products must be 0..{len(BASE_ORDER_NUMBERS)}")
        if new_products < 0 or new_products > len(NEW_ORDER_NUMBERS):
            raise ValueError(f"new products must be 0..{len(NEW_ORDER_NUMBERS)}")
        if depth < 0 or depth > MAX_DEPTH:
            raise ValueError(f"depth must be 0..{MAX_DEPTH}")
        if branching < 1:
            raise ValueError("branching must be at least 1")
        if not 0.0 <= no_picture_share <= 1.0:
            raise ValueError("the share without picture must be 0..1")
        self.seed = seed
        self.no_picture_share = no_picture_share
        self.short_pictures = set()
        self.listings = {}
        self.products = {}
        self._next_id = FIRST_LISTING_ID
        self._names = set()
        rng = random.Random(f"tolmari-demo:{seed}")
        self.root = self._add_listing(FIRST_LISTING_NAME, None, rng, path=FIRST_LISTING_PATH)
        self._grow(self.root, depth, branching, rng)
        bearing = self._bearing_listings(rng)
        base = []
        for number in sorted(rng.sample(BASE_ORDER_NUMBERS, products)):
            listing = bearing[len(base)] if len(base) < len(bearing) else rng.choice(bearing)
            product = self._make_product(number, listing, rng)
            listing.products.append(product)
            base.append(product)
        self._pick_accessories(base, base, rng)

        rng_new = random.Random(f"tolmari-demo:{seed}:new")
        fresh = []
        for number in rng_new.sample(NEW_ORDER_NUMBERS, new_products):
            stocked = [lst for lst in bearing if lst.products] or bearing
            listing = rng_new.choice(stocked)
            product = self._make_product(number, listing, rng_new)
            product.new = True
            listing.products.insert(0, product)
            fresh.append(product)
        self._pick_accessories(fresh, base + fresh, rng_new)

    def _add_listing(self, name, parent, rng, path=None):
        listing_id = self._next_id
        self._next_id += 1
        path = path or f"/catalog/{listing_id}/{slug(name)}"
        trail = (parent.trail if parent else [])
        listing = Listing(listing_id, name, path, [])
        listing.trail = trail + [listing]
        listing.kinds = rng.sample(PRODUCT_KINDS, 3)
        self.listings[path] = listing
        return listing

    def _grow(self, listing, depth, branching, rng):
        if depth == 0:
            return
        pool = TOP_CATEGORIES if listing is self.root else SUB_CATEGORIES
        names = rng.sample(pool, min(branching, len(pool)))
        names += [f"{rng.choice(pool)} {i}" for i in range(len(names) + 1, branching + 1)]
        for name in names:
            child = self._add_listing(name, listing, rng)
            listing.children.append(child)
        for child in listing.children:
            self._grow(child, depth - 1, branching, rng)

    def _bearing_listings(self, rng):
        """Listings with a product table: every leaf, and some inner listings, which
        then show sub-listings and products on one page. The first inner listing
        always does, so that every catalogue of depth 2 or more has such a page."""
        bearing, first_inner = [], True
        for listing in self.walk_listings():
            if not listing.children:
                bearing.append(listing)
            elif listing is not self.root:
                if first_inner or rng.random() < 0.3:
                    bearing.append(listing)
                first_inner = False
        rng.shuffle(bearing)
        return bearing

    def _make_product(self, number, listing, rng):
        order_number = f"ZV-{number:05d}"
        noun, prefix, property_names = rng.choice(listing.kinds)
        # A kind has 810 short names; a large catalogue runs out of them and
        # goes on with longer ones. Small catalogues never get there, so their
        # names stay as they were.
        for attempt in range(1000):
            name = f"Zavrinello {noun} {prefix} {rng.randint(10, 99)}-{rng.randint(1, 9)}"
            if attempt >= 50:
                name += f"{rng.randint(0, 9999):04d}"
            if name not in self._names:
                break
        else:
            raise RuntimeError("no free product name")
        self._names.add(name)
        kept = [p for p in property_names if rng.random() < 0.8] or property_names[:2]
        if rng.random() < 0.3:
            kept.append("Takuu")
        properties = [(p, PROPERTY_VALUES[p](rng)) for p in kept]
        description = (f"{noun.capitalize()} {prefix} on {rng.choice(DESCRIPTION_QUALITIES)} "
                       f"työkalu {rng.choice(DESCRIPTION_USES)}. {rng.choice(DESCRIPTION_EXTRAS)}")
        with_picture = rng.random() >= self.no_picture_share
        picture = f"/{number % 50}/{order_number}.png" if with_picture else None
        price = f"{rng.randint(9, 499)},{rng.choice(['00', '50', '90', '95'])} €"
        path = f"/product/{listing.id}/{slug(name)}/{order_number}"
        product = Product(order_number, name, path, listing, price, picture, description, properties)
        self.products[path] = product
        return product

    def share_a_picture_name(self):
        """The first two products with a picture, in crawl order, get pictures
        of one name on two paths; the first one's is too small to keep
        (SHORT_PICTURE_BYTES), so a parser must take the second."""
        pictured = [p for p in self.walk_products() if p.picture][:2]
        if len(pictured) < 2:
            raise ValueError("sharing a picture name needs two products with pictures")
        for index, product in enumerate(pictured, start=1):
            product.picture = f"/r{index}/{SHARED_PICTURE_NAME}"
        self.short_pictures = {pictured[0].picture}

    @staticmethod
    def _pick_accessories(products, candidates, rng):
        for product in products:
            count = min(rng.randint(0, 3), len(candidates) - 1)
            picked = rng.sample(candidates, count + 1) if count > 0 else []
            product.accessories = [c for c in picked if c is not product][:count]

    def walk_listings(self):
        """Listings in the order a depth-first walk of the sub-listing links meets them."""
        stack = [self.root]
        while stack:
            listing = stack.pop()
            yield listing
            stack.extend(reversed(listing.children))

    def walk_products(self):
        """Products in the order a crawler meets them: all sub-listings of a page,
        depth-first, before that page's own products."""
        def visit(listing):
            for child in listing.children:
                yield from visit(child)
            yield from listing.products
        yield from visit(self.root)

    def manifest(self):
        return {
            "seed": self.seed,
            "first_listing": FIRST_LISTING_PATH,
            "picture_route": PICTURE_ROUTE,
            "listings": [{
                "path": lst.path,
                "name": lst.name,
                "sub_listings": [c.path for c in lst.children],
                "products": [p.order_number for p in lst.products],
            } for lst in self.walk_listings()],
            "products": [{
                "order_number": p.order_number,
                "name": p.name,
                "path": p.path,
                "listing": p.listing.path,
                "categories": [lst.name for lst in p.listing.trail],
                "category_links": [lst.path for lst in p.listing.trail],
                "picture": p.picture.rsplit("/", 1)[1] if p.picture else None,
                "picture_path": p.picture,
                "description": p.description,
                "properties": dict(p.properties),
                "accessories": [a.name for a in p.accessories],
                "accessory_links": [a.path for a in p.accessories],
                "price": p.price,
                "new": p.new,
            } for p in self.walk_products()],
        }


def page(title, body):
    return ("<!DOCTYPE html>\n<html lang=\"fi\">\n<head>\n<meta charset=\"utf-8\">\n"
            f"<title>{title} – Tolmari</title>\n</head>\n<body>\n"
            "<div class=\"header\"><span class=\"logo\">Tolmari</span> verkkokauppa</div>\n"
            f"{body}</body>\n</html>\n")


def breadcrumb(trail):
    links = "".join(f" &gt; <a href=\"{lst.path}\">{lst.name}</a>" for lst in trail)
    return f"<div class=\"breadcrumb\"><a href=\"{SHOP_ROOT_PATH}\">Tolmari</a>{links}</div>\n"


def render_listing(listing):
    body = [breadcrumb(listing.trail), f"<h1>{listing.name}</h1>\n"]
    if listing.children:
        body.append("<div class=\"categories\">\n")
        for child in listing.children:
            body.append(f"<div class=\"category\"><div class=\"title\"><a href=\"{child.path}\">"
                        f"{child.name}</a></div></div>\n")
        body.append("</div>\n")
    if listing.products:
        body.append("<table class=\"products\">\n"
                    "<tr><th>Tuote</th><th>Tilausnro</th><th>Hinta</th></tr>\n")
        for p in listing.products:
            body.append(f"<tr><td class=\"first\"><a href=\"{p.path}\">{p.name}</a></td>"
                        f"<td>{p.order_number}</td><td>{p.price}</td></tr>\n")
        body.append("</table>\n")
    if not listing.children and not listing.products:
        body.append("<p>Tässä tuoteryhmässä ei ole tuotteita.</p>\n")
    return page(listing.name, "".join(body))


def render_product(product, image_base, with_order_number=True):
    if product.picture:
        picture = f"<img src=\"{image_base}{product.picture}\" alt=\"{product.name}\">"
    else:
        picture = "<p>Ei kuvaa</p>"
    rows = "".join(f"<tr><th width=\"30%\">{name}</th><td>{value}</td></tr>\n"
                   for name, value in product.properties)
    body = [
        breadcrumb(product.listing.trail),
        f"<h1>{product.name}</h1>\n",
        f"<div class=\"picture\">{picture}</div>\n",
        "<table class=\"product\">\n"
        + (f"<tr>\n\t<th>Tilausnumero</th>\n\t<td>{product.order_number}</td>\n</tr>\n"
         if with_order_number else "")
        + f"<tr>\n\t<th>Hinta</th>\n\t<td>{product.price}</td>\n</tr>\n"
        f"<tr>\n\t<th>Kuvaus</th>\n\t<td valign=\"top\">{product.description}</td>\n</tr>\n"
        "</table>\n",
        "<h2>Tekniset tiedot</h2>\n<table class=\"productproperties\">\n", rows, "</table>\n",
    ]
    if product.accessories:
        body.append("<h2>Lisätarvikkeet</h2>\n<table class=\"accessories\">\n")
        for a in product.accessories:
            body.append(f"<tr><td class=\"first\"><a href=\"{a.path}\">{a.name}</a></td>"
                        f"<td>{a.price}</td></tr>\n")
        body.append("</table>\n")
    return page(product.name, "".join(body))


def render_shop_root():
    return page("Tuotemerkit", "<h1>Tuotemerkit</h1>\n"
                f"<ul><li><a href=\"{FIRST_LISTING_PATH}\">{FIRST_LISTING_NAME}</a></li></ul>\n")


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


@lru_cache(maxsize=4096)
def make_picture(seed, order_number, size=PICTURE_SIZE):
    """A size x size RGB PNG: a noisy field in the product's colour with a disc
    in a second colour. The noise keeps the compressed file well over 256 bytes."""
    rng = random.Random(f"tolmari-picture:{seed}:{order_number}")
    ground = [rng.randint(0, 200) for _ in range(3)]
    disc = [(c + 128) % 256 for c in ground]
    noise = rng.randbytes(size * size * 3)
    centre, radius2 = size / 2, (size * 0.3) ** 2
    raw = bytearray()
    i = 0
    for y in range(size):
        raw.append(0)                  # filter type: none
        for x in range(size):
            colour = disc if (x - centre) ** 2 + (y - centre) ** 2 < radius2 else ground
            for c in colour:
                raw.append(min(255, c + (noise[i] & 0x1F)))
                i += 1
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


HTML_TYPE = "text/html; charset=utf-8"


class ShopServer(ThreadingHTTPServer):
    """Serves one catalogue on 127.0.0.1. Pages are rendered once, when the port
    is known; pictures when first asked for."""

    daemon_threads = True

    def __init__(self, catalogue, port=0, image_base=None, latency_ms=0, fail_paths=(),
                 fail_times=0, verbose=False, hidden_order_numbers=(), picture_latency_ms=None,
                 fail_answer="500", retry_after=None):
        super().__init__(("127.0.0.1", port), ShopHandler)
        self.port = self.server_address[1]
        self.catalogue = catalogue
        self.image_base = image_base or f"http://127.0.0.1:{self.port}{PICTURE_ROUTE}"
        self.latency = latency_ms / 1000.0
        self.picture_latency = self.latency if picture_latency_ms is None \
            else picture_latency_ms / 1000.0
        self.fail_paths = tuple(fail_paths)
        self.fail_times = fail_times
        self.fail_answer = fail_answer
        self.retry_after = retry_after
        self.verbose = verbose
        self._failures = {}
        self._lock = threading.Lock()
        self.pages = {SHOP_ROOT_PATH: render_shop_root().encode()}
        for path, listing in catalogue.listings.items():
            self.pages[path] = render_listing(listing).encode()
        for path, product in catalogue.products.items():
            self.pages[path] = render_product(
                product, self.image_base,
                product.order_number not in hidden_order_numbers).encode()
        self.pictures = {p.picture: p.order_number
                         for p in catalogue.products.values() if p.picture}

    def should_fail(self, path):
        if not any(path.startswith(prefix) for prefix in self.fail_paths):
            return False
        if self.fail_times <= 0:
            return True
        with self._lock:
            count = self._failures.get(path, 0)
            self._failures[path] = count + 1
        return count < self.fail_times

    def resource(self, path):
        """(content type, body) for a path, or None when the shop has no such page."""
        if path in self.pages:
            return HTML_TYPE, self.pages[path]
        if path.startswith(PICTURE_ROUTE + "/"):
            picture = path[len(PICTURE_ROUTE):]
            order_number = self.pictures.get(picture)
            if order_number and picture in self.catalogue.short_pictures:
                return "image/png", make_picture(self.catalogue.seed, order_number)[
                    :SHORT_PICTURE_BYTES]
            if order_number:
                return "image/png", make_picture(self.catalogue.seed, order_number)
        return None


class ShopHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TolmariDemo/1.0"
    # Headers and body leave in one write, with no wait for the client's delayed
    # acknowledgement in between: keep-alive requests would otherwise take 40 ms each.
    wbufsize = -1
    disable_nagle_algorithm = True

    def do_GET(self):
        self.answer(with_body=True)

    def do_HEAD(self):
        self.answer(with_body=False)

    def answer(self, with_body):
        shop = self.server
        path = urllib.parse.urlsplit(self.path).path
        latency = shop.picture_latency if path.startswith(PICTURE_ROUTE) else shop.latency
        if latency > 0:
            time.sleep(latency)
        if shop.should_fail(path):
            self.fail(with_body)
            return
        found = shop.resource(path)
        if found is None:
            self.send(404, HTML_TYPE, page("Sivua ei löytynyt",
                                           "<h1>Sivua ei löytynyt</h1>\n").encode(), with_body)
            return
        self.send(200, found[0], found[1], with_body)

    def fail(self, with_body):
        """Answers a failing path as --fail-answer says."""
        shop = self.server
        if shop.fail_answer in ("close", "reset"):
            if shop.fail_answer == "reset":
                # No lingering: closing sends a reset instead of the end of the stream.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            self.close_connection = True
            return
        headers = {"Retry-After": shop.retry_after} if shop.retry_after is not None else {}
        self.send(int(shop.fail_answer), "text/plain; charset=utf-8",
                  "Palvelinvirhe\n".encode(), with_body, headers)

    def send(self, code, content_type, body, with_body, headers=None):
        self.send_response(code)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if with_body:
            self.wfile.write(body)

    def log_message(self, format, *args):
        if self.server.verbose:
            super().log_message(format, *args)


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Demo of the Tolmari shop with a generated "
                                                 "Zavrinello catalogue, on 127.0.0.1.")
    parser.add_argument("--port", type=int, default=DEMO_PORT,
                        help=f"port to listen on; 0 picks a free one (default {DEMO_PORT}, "
                             "the one the demo program reads)")
    parser.add_argument("--products", type=int, default=60, help="number of products (default 60)")
    parser.add_argument("--depth", type=int, default=3,
                        help="levels of sub-listings below the first listing page (default 3)")
    parser.add_argument("--branching", type=int, default=3,
                        help="sub-listings per listing page above the last level (default 3)")
    parser.add_argument("--seed", type=int, default=1, help="catalogue seed (default 1)")
    parser.add_argument("--new-products", type=int, default=0, metavar="K",
                        help="add K products at the top of some listings, leaving the rest "
                             "of the catalogue of the same seed as it is")
    parser.add_argument("--no-picture-share", type=float, default=0.1, metavar="F",
                        help="share of products without a picture, 0..1 (default 0.1)")
    parser.add_argument("--latency-ms", type=int, default=0, help="delay before every answer")
    parser.add_argument("--shared-picture-name", action="store_true",
                        help=f"the first two products with a picture get pictures named "
                             f"{SHARED_PICTURE_NAME} on two paths, the first one "
                             f"{SHORT_PICTURE_BYTES} bytes long")
    parser.add_argument("--picture-latency-ms", type=int, default=None, metavar="MS",
                        help="delay before every picture (default: --latency-ms)")
    parser.add_argument("--image-base", default=None, metavar="URL",
                        help="picture address prefix written into product pages "
                             "(default http://127.0.0.1:PORT/picture)")
    parser.add_argument("--fail-path", action="append", default=[], metavar="PREFIX",
                        help="answer 500 for paths starting with PREFIX (repeatable)")
    parser.add_argument("--fail-times", type=int, default=0, metavar="N",
                        help="with --fail-path: fail only the first N requests of each "
                             "such path (default 0: always)")
    parser.add_argument("--fail-answer", default="500", metavar="HOW",
                        help="with --fail-path: an HTTP status to answer (default 500), or "
                             "'close' or 'reset' to end the connection without an answer")
    parser.add_argument("--retry-after", default=None, metavar="VALUE",
                        help="with --fail-path and a status: send this Retry-After header")
    parser.add_argument("--hide-order-number", action="append", default=[], metavar="NUMBER",
                        help="the page of this product shows no order number, as after a "
                             "change of the shop's template (repeatable)")
    parser.add_argument("--print-manifest", action="store_true",
                        help="print the catalogue as JSON and exit")
    parser.add_argument("--ready-file", metavar="PATH",
                        help="write the port into PATH once listening")
    parser.add_argument("--verbose", action="store_true", help="log every request to stderr")
    args = parser.parse_args(argv)
    if args.fail_answer not in ("close", "reset") and not args.fail_answer.isdigit():
        parser.error("--fail-answer takes an HTTP status, 'close' or 'reset'")
    return args


def write_ready_file(path, port):
    temporary = f"{path}.tmp{os.getpid()}"
    with open(temporary, "w", encoding="ascii") as out:
        out.write(f"{port}\n")
    os.replace(temporary, path)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        catalogue = Catalogue(args.products, args.depth, args.branching, args.seed,
                              args.new_products, args.no_picture_share)
        if args.shared_picture_name:
            catalogue.share_a_picture_name()
    except ValueError as error:
        print(f"demo_shop: {error}", file=sys.stderr)
        return 2
    if args.print_manifest:
        text = json.dumps(catalogue.manifest(), ensure_ascii=False, indent=1)
        sys.stdout.buffer.write(text.encode() + b"\n")
        sys.stdout.flush()
        return 0

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    try:
        server = ShopServer(catalogue, args.port, args.image_base, args.latency_ms,
                            args.fail_path, args.fail_times, args.verbose,
                            frozenset(args.hide_order_number), args.picture_latency_ms,
                            args.fail_answer, args.retry_after)
    except OSError as error:
        print(f"demo_shop: cannot listen on port {args.port}: {error}", file=sys.stderr)
        return 1
    serving = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                               daemon=True)
    serving.start()
    if args.ready_file:
        write_ready_file(args.ready_file, server.port)
    print(server.port, flush=True)
    print(f"demo_shop: {len(catalogue.products)} products at "
          f"http://127.0.0.1:{server.port}{FIRST_LISTING_PATH}", file=sys.stderr, flush=True)
    stop.wait()
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
