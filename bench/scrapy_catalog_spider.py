#!/usr/bin/python3
"""A Scrapy spider that fetches what one run of the program fetches from the
catalogue: the first listing page, every sub-listing page below it, every
product page and every product picture, with the same markers and the same
addresses (links appended to the catalogue origin as written, pictures found
behind `<img src="IMAGE-BASE`). It writes nothing; it counts and times.

Scrapy's default settings, except that its log, its statistics dump and its
telnet console (which listens on a port of its own) are off. Scrapy does not
obey robots.txt unless told to, and its HTTP cache is off by default.

    /usr/bin/python3 bench/scrapy_catalog_spider.py CATALOG_BASE_URL IMAGE_BASE_URL

Prints one line: products, listing pages, pictures, requests, wall seconds
from the spider's opening to its closing, products/s, and the CPU time of the
whole process.
"""

import resource
import sys
import time

try:
    import scrapy
    from scrapy import signals
    from scrapy.crawler import CrawlerProcess
except ImportError:
    sys.stderr.write("scrapy_catalog_spider: Scrapy is missing; "
                     "install it with: apt-get install python3-scrapy\n")
    sys.exit(3)

FIRST_LISTING_PATH = "/catalog/3833/Zavrinello"
SUB_LISTING_MARKER = '<div class="title"><a href="'
PRODUCT_LINK_MARKER = '<td class="first"><a href="'
PICTURE_MARKER_START = '<img src="'


def links_after(text, marker, pos):
    """(links behind pos that start with marker, as written, position behind the last)."""
    links = []
    while True:
        start = text.find(marker, pos)
        if start < 0:
            return links, pos
        start += len(marker)
        end = text.find('"', start)
        if end < 0:
            return links, pos
        if end > start:
            links.append(text[start:end])
        pos = end


class CatalogSpider(scrapy.Spider):
    name = "catalog"

    def __init__(self, catalog_base, image_base, **kwargs):
        super().__init__(**kwargs)
        self.catalog_base = catalog_base
        self.picture_marker = PICTURE_MARKER_START + image_base
        self.image_base = image_base
        self.counts = {"listings": 0, "products": 0, "pictures": 0, "failed": 0}
        self.opened_at = self.closed_at = None

    @classmethod
    def from_crawler(cls, crawler, *args, **kwargs):
        spider = super().from_crawler(crawler, *args, **kwargs)
        crawler.signals.connect(spider.on_opened, signal=signals.spider_opened)
        crawler.signals.connect(spider.on_closed, signal=signals.spider_closed)
        return spider

    def on_opened(self, spider):
        self.opened_at = time.monotonic()

    def on_closed(self, spider):
        self.closed_at = time.monotonic()

    def start_requests(self):
        yield scrapy.Request(self.catalog_base + FIRST_LISTING_PATH, callback=self.parse_listing,
                             errback=self.failed)

    def parse_listing(self, response):
        """Sub-listings first; products only behind the last sub-listing link, as the
        program walks a listing page."""
        self.counts["listings"] += 1
        text = response.text
        sub_listings, pos = links_after(text, SUB_LISTING_MARKER, 0)
        products, _ = links_after(text, PRODUCT_LINK_MARKER, pos)
        for link in sub_listings:
            yield scrapy.Request(self.catalog_base + link, callback=self.parse_listing,
                                 errback=self.failed)
        for link in products:
            yield scrapy.Request(self.catalog_base + link, callback=self.parse_product,
                                 errback=self.failed)

    def parse_product(self, response):
        self.counts["products"] += 1
        text = response.text
        start = text.find(self.picture_marker)
        if start < 0:
            return
        start += len(self.picture_marker)
        end = text.find('"', start)
        if end > start:
            yield scrapy.Request(self.image_base + text[start:end], callback=self.took_picture,
                                 errback=self.failed)

    def took_picture(self, response):
        self.counts["pictures"] += 1

    def failed(self, failure):
        self.counts["failed"] += 1


def process_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: scrapy_catalog_spider.py CATALOG_BASE_URL IMAGE_BASE_URL\n")
        return 2
    process = CrawlerProcess(settings={
        "LOG_ENABLED": False,
        "STATS_DUMP": False,
        "TELNETCONSOLE_ENABLED": False,
        "ROBOTSTXT_OBEY": False,
        "HTTPCACHE_ENABLED": False,
    }, install_root_handler=False)
    crawler = process.create_crawler(CatalogSpider)
    process.crawl(crawler, catalog_base=argv[1], image_base=argv[2])
    process.start()
    spider = crawler.spider
    counts = spider.counts
    seconds = spider.closed_at - spider.opened_at
    requests = crawler.stats.get_value("downloader/request_count", 0)
    print(f"products {counts['products']}  listings {counts['listings']}  "
          f"pictures {counts['pictures']}  failed {counts['failed']}  requests {requests}  "
          f"wall {seconds:.2f} s  {counts['products'] / seconds:.1f} products/s  "
          f"process CPU {process_cpu_seconds():.2f} s")
    return 0 if counts["failed"] == 0 and counts["products"] > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
