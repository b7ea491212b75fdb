#!/usr/bin/env python3
"""The demo shop as the program meets a real one: behind nginx over HTTPS.

Starts, on loopback and in a folder of its own:
  - a test certificate authority and the server's certificate (openssl);
  - the demo shop (tools/demo-shop/demo_shop.py) on a free port, its pictures
    addressed through nginx;
  - nginx in front of it: TLS 1.2/1.3, HTTP/2, gzip, and on request a
    request-rate limit answering 429 (with Retry-After on request);
  - on request tinyproxy, as the office proxy.

Prints one JSON line once everything listens:
  {"catalog": "https://127.0.0.1:P", "image": "https://127.0.0.1:P/picture",
   "ca": ".../ca.pem", "access_log": ..., "proxy": "http://127.0.0.1:Q" or null,
   "proxy_log": ...}
and runs until it is sent SIGTERM or SIGINT, or standard input closes (unless
--until-killed); then it stops everything it started.

--cert picks what nginx shows: good (signed by the test CA for 127.0.0.1 and
localhost), self-signed, expired (signed by the CA, validity in 2020) or
wrong-name (signed by the CA, for other.invalid only).
"""

import argparse
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO_SHOP = os.path.join(HERE, "..", "demo-shop", "demo_shop.py")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_listening(port, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def openssl(folder, *arguments):
    subprocess.run(["openssl", *arguments], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


CA_CONFIG = """[ ca ]
default_ca = test
[ test ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[ any ]
commonName = supplied
"""


def make_certificates(folder, kind):
    """Writes ca.pem and server.pem/server.key of the kind asked for."""
    openssl(folder, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
            "-out", "ca.pem", "-days", "30", "-subj", "/CN=Zavrinello test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    names = "DNS:other.invalid" if kind == "wrong-name" else "IP:127.0.0.1,DNS:localhost"
    common = "other.invalid" if kind == "wrong-name" else "127.0.0.1"
    if kind == "self-signed":
        openssl(folder, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
                "-out", "server.pem", "-days", "30", "-subj", f"/CN={common}",
                "-addext", f"subjectAltName={names}")
        return
    openssl(folder, "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
            "-out", "server.csr", "-subj", f"/CN={common}",
            "-addext", f"subjectAltName={names}")
    with open(os.path.join(folder, "ca.cnf"), "w") as f:
        f.write(CA_CONFIG)
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("1000\n")
    dates = (["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"]
             if kind == "expired" else ["-days", "30"])
    openssl(folder, "ca", "-batch", "-notext", "-config", "ca.cnf", "-cert", "ca.pem",
            "-keyfile", "ca.key", "-in", "server.csr", "-out", "server.pem", *dates)


def nginx_config(folder, port, upstream, options):
    limit_zone = ""
    limit = ""
    if options.rate:
        limit_zone = (f"limit_req_zone $binary_remote_addr zone=shop:1m rate={options.rate}r/s;\n"
                      "    limit_req_status 429;")
        limit = f"limit_req zone=shop burst={options.burst} nodelay;"
        if options.retry_after is not None:
            limit += "\n            error_page 429 = @throttled;"
    throttled = ""
    if options.retry_after is not None:
        throttled = f"""
        location @throttled {{
            add_header Retry-After {options.retry_after} always;
            return 429;
        }}"""
    user = "user root root;" if os.geteuid() == 0 else ""
    return f"""{user}
worker_processes 1;
daemon off;
pid {folder}/nginx.pid;
error_log {folder}/error.log warn;
events {{ worker_connections 512; }}
http {{
    log_format field '$server_protocol $status $request_uri';
    access_log {folder}/access.log field;
    client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    {limit_zone}
    gzip on;
    gzip_min_length 256;
    keepalive_requests {options.keepalive_requests};
    upstream shop {{
        server 127.0.0.1:{upstream};
        keepalive 16;
    }}
    server {{
        listen 127.0.0.1:{port} ssl http2;
        ssl_certificate {folder}/server.pem;
        ssl_certificate_key {folder}/server.key;
        ssl_protocols TLSv1.2 TLSv1.3;
        location / {{
            {limit}
            proxy_pass http://shop;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_buffering off;
        }}{throttled}
    }}
}}
"""


def tinyproxy_config(folder, port, credentials):
    user = "User nobody\nGroup nogroup\n" if os.geteuid() == 0 else ""
    if credentials:
        user += "BasicAuth " + credentials.replace(":", " ", 1) + "\n"
    return f"""{user}Port {port}
Listen 127.0.0.1
Timeout 120
LogFile "{folder}/tinyproxy.log"
LogLevel Info
PidFile "{folder}/tinyproxy.pid"
MaxClients 64
Allow 127.0.0.1
DisableViaHeader Yes
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", choices=["good", "self-signed", "expired", "wrong-name"],
                        default="good")
    parser.add_argument("--rate", type=int, default=0, help="requests per second nginx allows")
    parser.add_argument("--burst", type=int, default=10)
    parser.add_argument("--retry-after", type=int, default=None,
                        help="seconds nginx's 429 answers ask the client to wait")
    parser.add_argument("--keepalive-requests", type=int, default=50,
                        help="requests nginx serves on one connection before closing it")
    parser.add_argument("--proxy", action="store_true", help="start tinyproxy too")
    parser.add_argument("--proxy-credentials", metavar="USER:PASSWORD",
                        help="tinyproxy admits only this user (Basic authentication)")
    parser.add_argument("--folder", help="work folder (default: a new temporary one)")
    parser.add_argument("--until-killed", action="store_true",
                        help="run until a signal, whatever standard input does")
    parser.add_argument("demo", nargs=argparse.REMAINDER,
                        help="after --: options for demo_shop.py (--products, --latency-ms ...)")
    options = parser.parse_args()
    demo_options = [a for a in options.demo if a != "--"]

    folder = options.folder or tempfile.mkdtemp(prefix="field-shop-")
    os.makedirs(folder, exist_ok=True)
    if os.geteuid() == 0:
        os.chmod(folder, 0o777)  # tinyproxy writes its log as nobody
    processes = []

    def stop(*_):
        for process in reversed(processes):
            if process.poll() is None:
                process.terminate()
        for process in processes:
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        if not options.folder:
            shutil.rmtree(folder, ignore_errors=True)
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        make_certificates(folder, options.cert)
        port = free_port()
        base = f"https://127.0.0.1:{port}"
        ready = os.path.join(folder, "shop.port")
        processes.append(subprocess.Popen(
            [sys.executable, DEMO_SHOP, "--port", "0", "--ready-file", ready,
             "--image-base", base + "/picture", *demo_options],
            stdout=subprocess.DEVNULL))
        deadline = time.monotonic() + 60
        while not (os.path.exists(ready) and open(ready).read().strip()):
            if time.monotonic() > deadline or processes[0].poll() is not None:
                raise RuntimeError("the demo shop did not start")
            time.sleep(0.05)
        upstream = int(open(ready).read().strip())
        with open(os.path.join(folder, "nginx.conf"), "w") as f:
            f.write(nginx_config(folder, port, upstream, options))
        processes.append(subprocess.Popen(
            ["nginx", "-p", folder, "-c", os.path.join(folder, "nginx.conf"), "-e",
             os.path.join(folder, "error.log")]))
        if not wait_listening(port):
            raise RuntimeError("nginx did not start: " + open(os.path.join(folder, "error.log")).read())
        proxy = None
        if options.proxy:
            proxy_port = free_port()
            with open(os.path.join(folder, "tinyproxy.conf"), "w") as f:
                f.write(tinyproxy_config(folder, proxy_port, options.proxy_credentials))
            processes.append(subprocess.Popen(
                ["tinyproxy", "-d", "-c", os.path.join(folder, "tinyproxy.conf")],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            if not wait_listening(proxy_port):
                raise RuntimeError("tinyproxy did not start")
            proxy = f"http://127.0.0.1:{proxy_port}"
        print(json.dumps({
            "catalog": base, "image": base + "/picture", "ca": os.path.join(folder, "ca.pem"),
            "access_log": os.path.join(folder, "access.log"), "proxy": proxy,
            "proxy_log": os.path.join(folder, "tinyproxy.log"), "shop_port": upstream,
        }), flush=True)
    except Exception as error:  # noqa: BLE001 - reported, then everything is stopped
        print(f"field_shop: {error}", file=sys.stderr, flush=True)
        stop()
    while True:
        watched = [] if options.until_killed else [sys.stdin]
        readable, _, _ = select.select(watched, [], [], 1.0)
        if readable and not sys.stdin.read(1):
            stop()
        if any(p.poll() is not None for p in processes):
            print("field_shop: a server ended on its own", file=sys.stderr, flush=True)
            stop()


if __name__ == "__main__":
    main()
