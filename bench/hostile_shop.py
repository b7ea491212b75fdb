#!/usr/bin/env python3
"""A shop built to cost the program memory: its pages are as large as the
program accepts (just under 64 MiB). Prints its port once listening.
  hostile_shop.py KIND
KIND: description  one product whose description fills the page
      properties   one product whose page is nothing but property cells
      listing      a first page of 1.3 million product links; the first
                   product page is as in "description", the others are 404"""
import http.server
import socketserver
import sys
KIND = sys.argv[1]
MIB = 1024 * 1024
CAP = 64 * MIB - 4096
FIRST = "/catalog/3833/Zavrinello"
def listing(links):
    return ("<html>" + "".join(f'<td class="first"><a href="{l}">x</a></td>' for l in links) + "</html>").encode()
def product_page():
    head = "<html><table><tr><th>Tilausnumero</th>\n\t<td>ZV-1</td></tr>"
    if KIND == "description":
        body = "<tr><th>Kuvaus</th>\n\t<td valign=\"top\">" + "x" * (CAP - 200) + "</td></tr>"
    else:
        one = '<th width="30%">n</th><td>v</td>'
        body = '<table class="productproperties">' + one * ((CAP - 200) // len(one)) + "</table>"
    return (head + body + "</table></html>").encode()
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *a): pass
    def do_GET(self):
        if self.path.startswith(FIRST):
            if KIND == "listing":
                n = CAP // 50
                data = listing(f"/p/{i:07d}" for i in range(n))
            else:
                data = listing(["/p/1"])
        else:
            data = product_page() if KIND != "listing" or self.path == "/p/0000000" else b""
            if not data:
                self.send_response(404); self.send_header("Content-Length", "0"); self.end_headers(); return
        self.send_response(200, "OK")
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
class S(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
s = S(("127.0.0.1", 0), H)
print(s.server_address[1], flush=True)
s.serve_forever()
