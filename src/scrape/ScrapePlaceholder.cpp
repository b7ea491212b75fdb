// Replaced by the crawler and the product extraction.
