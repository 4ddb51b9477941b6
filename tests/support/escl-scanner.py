#!/usr/bin/env python3
"""A driverless (eSCL/AirScan) scanner on 127.0.0.1 for Velmora's tests and benchmarks.

It offers a platen and a feeder (simplex and duplex), colour, grey and black-and-white, 75 to
600 dpi, and serves JPEG pages of a known pattern at the requested size and resolution:

  * a black frame whose outer edge lies 20 mm inside the sheet (170 x 257 mm on A4),
  * sheet n of a batch has n black squares of 8 mm, in a row 30 mm below the top edge on the
    front side and 30 mm above the bottom edge on the back side,
  * a colour patch in the middle, red on the front, blue on the back.

With --card-at X,Y the platen holds a card instead of the sheet (the feeder is unchanged): a
card of 85.6 x 54 mm with its top left corner X, Y mm from the glass's top left corner, filled
dark blue-grey (40, 60, 110), with a white label of 20 x 10 mm 5 mm in from its top left
corner; the glass around it is white. A preview finds a document in a known place on it.

    escl-scanner.py [--port N] [--port-file F] [--sane-dir D] [--sheets N] [--delay S]
                    [--jam-at N] [--empty] [--vanish-at N] [--stall-at N] [--card-at X,Y]

--sane-dir writes a private SANE configuration (dll.conf, airscan.conf) that announces this
scanner to sane-airscan with discovery off; point SANE_CONFIG_DIR at it.

Faults, also switched at run time with POST /control (form fields of the same names, e.g.
"jam_at=2&sheets=3"; GET /control answers the state and the jobs served as JSON):
  sheets N     sheets in the feeder for each batch (0: empty, the job is refused)
  delay S      seconds before each page is answered (a slow device)
  jam_at N     page N of a feeder batch is answered 503 and the feeder reports a jam
  vanish_at N  the server sends half of page N and exits (a device switched off)
  stall_at N   the server sends half of page N and then nothing more (a device that hangs)
  card_at X,Y  the card on the glass (empty: the sheet again); a malformed value is answered 400
"""

import argparse
import json
import os
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MM_PER_INCH = 25.4
A4_W, A4_H = 2480, 3508  # 1/300 inch
RESOLUTIONS = (75, 100, 150, 200, 300, 600)

STATE = {"sheets": 3, "delay": 0.0, "jam_at": 0, "vanish_at": 0, "stall_at": 0, "card_at": None}
LOCK = threading.Lock()
JOBS = {}
JAMMED = [False]
SERIAL = [0]
JPEG_CACHE = {}


CARD_W, CARD_H = 85.6, 54.0
CARD_RGB = (40, 60, 110)


def card_at(text):
    """"X,Y" in mm as a tuple, None for an empty text; ValueError for anything else."""
    text = text.strip()
    if not text:
        return None
    x, y = (float(v) for v in text.split(","))
    if not (0 <= x and 0 <= y):
        raise ValueError("card outside the glass: %s" % text)
    return (x, y)


def rectangles(sheet, back, card=None):
    """The pattern of one side of a sheet, or the card on the glass: (x0, y0, x1, y1, rgb) in mm
    from the top left, later ones painted over earlier ones."""
    if card:
        x, y = card
        return [(x, y, x + CARD_W, y + CARD_H, CARD_RGB),
                (x + 5, y + 5, x + 25, y + 15, (255, 255, 255))]
    black = (0, 0, 0)
    frame = [(20, 20, 190, 23, black), (20, 274, 190, 277, black),
             (20, 20, 23, 277, black), (187, 20, 190, 277, black)]
    y = 259 if back else 30
    marks = [(30 + 14 * i, y, 38 + 14 * i, y + 8, black) for i in range(sheet)]
    patch = [(85, 128, 125, 148, (0, 0, 255) if back else (255, 0, 0))]
    return frame + marks + patch


def render(settings, sheet, back, card=None):
    """A PPM/PGM picture of the requested region at the requested resolution."""
    res = settings["res"]
    grey = settings["mode"] != "RGB24"
    width = max(1, round(settings["width"] * res / 300))
    height = max(1, round(settings["height"] * res / 300))
    x0_mm = settings["x"] / 300 * MM_PER_INCH
    y0_mm = settings["y"] / 300 * MM_PER_INCH
    px_mm = MM_PER_INCH / res
    rects = rectangles(sheet, back, card)

    def col(mm):
        return min(width, max(0, round((mm - x0_mm) / px_mm)))

    def pixel(rgb):
        if grey:
            g = round(0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2])
            if settings["mode"] == "BlackAndWhite1":
                g = 0 if g < 128 else 255
            return bytes((g,))
        return bytes(rgb)

    white = pixel((255, 255, 255))
    rows = {}
    out = []
    for y in range(height):
        mm = y0_mm + (y + 0.5) * px_mm
        spans = tuple((col(r[0]), col(r[2]), r[4]) for r in rects if r[1] <= mm < r[3])
        row = rows.get(spans)
        if row is None:
            line = bytearray(white * width)
            bpp = len(white)
            for a, b, rgb in spans:
                if b > a:
                    line[a * bpp:b * bpp] = pixel(rgb) * (b - a)
            row = rows[spans] = bytes(line)
        out.append(row)
    header = b"P%d\n%d %d\n255\n" % (5 if grey else 6, width, height)
    return header + b"".join(out)


def jpeg(settings, sheet, back, card=None):
    key = (settings["res"], settings["mode"], settings["x"], settings["y"],
           settings["width"], settings["height"], sheet, back, card)
    data = JPEG_CACHE.get(key)
    if data is None:
        data = subprocess.run(["cjpeg", "-quality", "90"], input=render(settings, sheet, back, card),
                              stdout=subprocess.PIPE, check=True).stdout
        JPEG_CACHE[key] = data
    return data


def source_caps(tag):
    profile = "".join(
        "<scan:ColorMode>%s</scan:ColorMode>" % m for m in ("RGB24", "Grayscale8", "BlackAndWhite1"))
    resolutions = "".join(
        "<scan:DiscreteResolution><scan:XResolution>%d</scan:XResolution>"
        "<scan:YResolution>%d</scan:YResolution></scan:DiscreteResolution>" % (r, r)
        for r in RESOLUTIONS)
    return (
        "<scan:%s><scan:MinWidth>16</scan:MinWidth><scan:MaxWidth>%d</scan:MaxWidth>"
        "<scan:MinHeight>16</scan:MinHeight><scan:MaxHeight>%d</scan:MaxHeight>"
        "<scan:SettingProfiles><scan:SettingProfile><scan:ColorModes>%s</scan:ColorModes>"
        "<scan:DocumentFormats><pwg:DocumentFormat>image/jpeg</pwg:DocumentFormat>"
        "</scan:DocumentFormats><scan:SupportedResolutions><scan:DiscreteResolutions>%s"
        "</scan:DiscreteResolutions></scan:SupportedResolutions></scan:SettingProfile>"
        "</scan:SettingProfiles></scan:%s>" % (tag, A4_W, A4_H, profile, resolutions, tag))


NS = ('xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" '
      'xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm"')
CAPABILITIES = (
    '<?xml version="1.0" encoding="UTF-8"?><scan:ScannerCapabilities %s>'
    "<pwg:Version>2.63</pwg:Version><pwg:MakeAndModel>Velmora Testscanner</pwg:MakeAndModel>"
    "<pwg:SerialNumber>VT-0001</pwg:SerialNumber><scan:Manufacturer>Velmora</scan:Manufacturer>"
    "<scan:Platen>%s</scan:Platen><scan:Adf>%s%s</scan:Adf></scan:ScannerCapabilities>"
    % (NS, source_caps("PlatenInputCaps"), source_caps("AdfSimplexInputCaps"),
       source_caps("AdfDuplexInputCaps"))).encode()


def text_of(xml, tag):
    """The text of the first element whose name ends in `tag` (prefix-agnostic)."""
    for prefix in ("pwg:", "scan:", ""):
        start = xml.find("<%s%s>" % (prefix, tag))
        if start >= 0:
            start += len(prefix) + len(tag) + 2
            return xml[start:xml.find("<", start)].strip()
    return ""


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        if os.environ.get("ESCL_SCANNER_LOG"):
            sys.stderr.write("escl-scanner %.3f %s\n" % (time.time() % 1000, fmt % args))

    def reply(self, code, body=b"", ctype="text/xml", headers=()):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        if body and self.command != "HEAD":
            self.wfile.write(body)

    def do_GET(self):
        path = urllib.parse.urlparse(self.path).path
        if path == "/eSCL/ScannerCapabilities":
            return self.reply(200, CAPABILITIES)
        if path == "/eSCL/ScannerStatus":
            with LOCK:
                adf = ("ScannerAdfJam" if JAMMED[0] else
                       "ScannerAdfLoaded" if STATE["sheets"] > 0 else "ScannerAdfEmpty")
            return self.reply(200, (
                '<?xml version="1.0" encoding="UTF-8"?><scan:ScannerStatus %s>'
                "<pwg:Version>2.63</pwg:Version><pwg:State>Idle</pwg:State>"
                "<scan:AdfState>%s</scan:AdfState></scan:ScannerStatus>" % (NS, adf)).encode())
        if path == "/control":
            with LOCK:
                body = json.dumps({"state": STATE, "jammed": JAMMED[0],
                                   "jobs": [JOBS[k] for k in sorted(JOBS)]})
            return self.reply(200, body.encode(), "application/json")
        if path.startswith("/eSCL/ScanJobs/") and path.endswith("/NextDocument"):
            return self.next_document(path.split("/")[3])
        self.reply(404)

    def next_document(self, job_id):
        with LOCK:
            job = JOBS.get(job_id)
            state = dict(STATE)
        if job is None:
            return self.reply(404)
        page = job["served"] + 1
        # A slow device takes its time to answer, also for a job cancelled meanwhile.
        time.sleep(state["delay"])
        with LOCK:
            if job["deleted"]:
                return self.reply(404)
        feeder = job["source"] == "Feeder"
        card = None
        if not feeder:
            if page > 1:
                return self.reply(404)
            sheet, back, card = 1, False, job["card"]
        else:
            sides = 2 if job["duplex"] else 1
            if page > job["sheets"] * sides:
                return self.reply(404)
            if state["jam_at"] and page == state["jam_at"]:
                with LOCK:
                    JAMMED[0] = True
                return self.reply(503)
            sheet, back = (page - 1) // sides + 1, (page - 1) % sides == 1
        data = jpeg(job, sheet, back, card)
        if page in (state["vanish_at"], state["stall_at"]):
            self.send_response(200)
            self.send_header("Content-Type", "image/jpeg")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[:len(data) // 2])
            self.wfile.flush()
            if page == state["vanish_at"]:
                os._exit(3)
            time.sleep(3600)
            return
        with LOCK:
            job["served"] = page
            job["pages"].append({"sheet": sheet, "back": back})
        self.reply(200, data, "image/jpeg")

    def do_POST(self):
        path = urllib.parse.urlparse(self.path).path
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0)).decode("utf-8", "replace")
        if path == "/control":
            try:
                fields = [(k, card_at(v) if k == "card_at" else float(v) if k == "delay" else int(v))
                          for k, v in urllib.parse.parse_qsl(body, keep_blank_values=True)
                          if k in STATE and (v or k == "card_at")]
            except ValueError as e:
                return self.reply(400, str(e).encode(), "text/plain")
            with LOCK:
                STATE.update(fields)
                JAMMED[0] = False
            return self.reply(204)
        if path != "/eSCL/ScanJobs":
            return self.reply(404)
        settings = {
            "source": text_of(body, "InputSource") or "Platen",
            "duplex": text_of(body, "Duplex") == "true",
            "mode": text_of(body, "ColorMode") or "RGB24",
            "res": int(text_of(body, "XResolution") or 300),
            "x": int(text_of(body, "XOffset") or 0),
            "y": int(text_of(body, "YOffset") or 0),
            "width": int(text_of(body, "Width") or A4_W),
            "height": int(text_of(body, "Height") or A4_H),
        }
        if settings["res"] not in RESOLUTIONS:
            return self.reply(409)
        with LOCK:
            if settings["source"] == "Feeder" and (STATE["sheets"] <= 0 or JAMMED[0]):
                return self.reply(409)
            SERIAL[0] += 1
            job_id = str(SERIAL[0])
            JOBS[job_id] = dict(settings, id=job_id, sheets=STATE["sheets"], card=STATE["card_at"],
                                served=0, pages=[], deleted=False)
        host, port = self.server.server_address[:2]
        self.reply(201, headers=[("Location", "http://%s:%d/eSCL/ScanJobs/%s" % (host, port, job_id))])

    def do_DELETE(self):
        parts = urllib.parse.urlparse(self.path).path.split("/")
        with LOCK:
            job = JOBS.get(parts[3]) if len(parts) > 3 and parts[2] == "ScanJobs" else None
            if job is not None:
                job["deleted"] = True
        self.reply(200 if job is not None else 404)


def write_atomically(path, text):
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file")
    p.add_argument("--sane-dir")
    p.add_argument("--sheets", type=int, default=3)
    p.add_argument("--delay", type=float, default=0.0)
    p.add_argument("--jam-at", type=int, default=0)
    p.add_argument("--empty", action="store_true")
    p.add_argument("--vanish-at", type=int, default=0)
    p.add_argument("--stall-at", type=int, default=0)
    p.add_argument("--card-at", type=card_at, default=None, metavar="X,Y")
    a = p.parse_args()
    STATE.update(sheets=0 if a.empty else a.sheets, delay=a.delay, jam_at=a.jam_at,
                 vanish_at=a.vanish_at, stall_at=a.stall_at, card_at=a.card_at)

    ThreadingHTTPServer.allow_reuse_address = True
    ThreadingHTTPServer.daemon_threads = True
    server = ThreadingHTTPServer(("127.0.0.1", a.port), Handler)
    port = server.server_address[1]
    if a.sane_dir:
        os.makedirs(a.sane_dir, exist_ok=True)
        write_atomically(os.path.join(a.sane_dir, "dll.conf"), "airscan\n")
        write_atomically(os.path.join(a.sane_dir, "airscan.conf"),
                         '[devices]\n"Velmora Testscanner" = http://127.0.0.1:%d/eSCL, eSCL\n'
                         "[options]\ndiscovery = disable\n" % port)
    if a.port_file:
        write_atomically(a.port_file, "%d\n" % port)
    print(port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
