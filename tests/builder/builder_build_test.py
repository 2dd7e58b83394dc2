#!/usr/bin/python3
"""The headless build of SarvikBuilder.exe under Wine, read back by pefile (not the project's code).

Each case writes a session file in the builder's format, runs
"SarvikBuilder.exe --build SESSION [--out PATH]" and checks the exit code, the printed lines and
the patcher it wrote: RT_RCDATA 900 parsed by a short reader of the package format, RT_VERSION 1
strings and fixed words, the icons against the chosen .ico and the template's other resources.

Results are written in GoogleTest's XML format to $SV_RESULTS_DIR/builder_build.xml."""
import argparse
import io
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

import pefile
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from gtest_results import Failure, check, run_cases, stop_processes  # noqa: E402
import nginx_server  # noqa: E402
WINE_RUN = os.path.join(os.environ.get("SV_SOURCE_DIR", os.path.join(HERE, "..", "..")),
                        "scripts", "wine-run")
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_RCDATA, RT_MANIFEST = 3, 14, 16, 10, 24
# The signing tests' certificate (tests/data/signing), its password and SHA-1 thumbprint.
PFX = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "signing", "test_signing.pfx")
PFX_PASSWORD = 'gizli" /fd SHA1 \\'
PFX_THUMBPRINT = "58835AB718EDF7E627E4B7E145756AC5AF950933"

args = None
started = []



def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def folder(name):
    path = os.path.join(args.work, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def write_session(path, values):
    lines = ["; Sarvik Olusturucu - son oturum (parola kaydedilmez)"]
    lines += [f"{k}={v}" for k, v in values]
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("utf-8"))
    return path


def build(session, out=None, builder=None, extra_env=None, extra_args=None, windows_env=None):
    """Runs the headless build; returns (exit code, printed lines). Wine gives a program started
    from Linux its own ProgramFiles; one started by cmd inherits cmd's, so windows_env goes
    through cmd."""
    cmd = [WINE_RUN, builder or args.builder]
    if extra_args is not None:
        cmd += extra_args
    else:
        cmd += ["--build", win_path(session)] + (["--out", win_path(out)] if out else [])
    if windows_env:
        # Wine's cmd takes no quotes around set's argument; a space before && would end the value.
        sets = "".join(f'set {k}={v}&& ' for k, v in windows_env.items())
        cmd = [WINE_RUN, "cmd", "/c", sets + " ".join(win_path(a) if a == cmd[1] else a for a in cmd[1:])]
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.update(extra_env or {})
    proc = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    text = proc.stdout.decode("utf-8")
    check(not text or text.endswith("\r\n"), f"output does not end in CR LF: {text[-40:]!r}")
    return proc.returncode, [l for l in text.split("\r\n") if l]


def base_session(skin=None, **overrides):
    values = [("skin", win_path(skin or args.skin)), ("config_url", "http://127.0.0.1:1/cfg.xml"),
              ("title", "Draskel Online"), ("out_name", "Draskel.exe"), ("conn", "6"), ("seg", "8"),
              ("max_kbps", "1500"),
              ("v_product", "Draskel"), ("v_company", "Draskel Oyun"), ("v_version", "2.5"),
              ("v_copyright", "(C) 2026 Draskel")]
    keys = dict(values)
    keys.update(overrides)
    return list(keys.items())


# ---- independent readers ------------------------------------------------------------------------

def resources(path):
    """{(type, id or name, language): bytes} of every resource."""
    pe = pefile.PE(path)
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            name = n.id if n.name is None else str(n.name)
            for lang in n.directory.entries:
                d = lang.data.struct
                out[(t.id, name, lang.id)] = pe.get_data(d.OffsetToData, d.Size)
    pe.close()
    return out


def parse_package(data):
    """The skin package: "SVSK", version 1, count, entries (u16 name, name, u32 size, data), CRC."""
    check(data[:4] == b"SVSK", "package magic")
    version, count = struct.unpack_from("<II", data, 4)
    check(version == 1, f"package version {version}")
    check(struct.unpack_from("<I", data, len(data) - 4)[0] == zlib.crc32(data[:-4]), "package CRC")
    at, entries = 12, {}
    for _ in range(count):
        (n,) = struct.unpack_from("<H", data, at)
        name = data[at + 2:at + 2 + n].decode("utf-8")
        at += 2 + n
        (size,) = struct.unpack_from("<I", data, at)
        entries[name] = data[at + 4:at + 4 + size]
        at += 4 + size
    check(at == len(data) - 4, "package length")
    return entries


def parse_version(block):
    """(fixed words, {string: value}) of a VS_VERSIONINFO block."""
    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        end = at + length
        key_end = block.index(b"\0\0", at + 6)
        while (key_end - at - 6) % 2:
            key_end = block.index(b"\0\0", key_end + 1)
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        if kind == 1:
            value = block[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
            child_at = (value_at + 2 * value_length + 3) & ~3
        else:
            value = block[value_at:value_at + value_length]
            child_at = (value_at + value_length + 3) & ~3
        children = []
        while child_at < end:
            child, child_end = node(child_at)
            children.append(child)
            child_at = (child_end + 3) & ~3
        return (key, value, children), end
    (key, fixed, children), end = node(0)
    check(key == "VS_VERSION_INFO" and end == len(block), f"version root {key} {end} {len(block)}")
    words = struct.unpack("<13I", fixed)
    strings = {}
    for child in children:
        if child[0] == "StringFileInfo":
            check(child[2][0][0] == "040904b0", "string table name")
            strings = {k: v for k, v, _ in child[2][0][2]}
        if child[0] == "VarFileInfo":
            check(child[2][0][0] == "Translation" and child[2][0][1] == b"\x09\x04\xb0\x04", "translation")
    return words, strings


def make_ico(path, sizes=(48, 32, 16)):
    image = Image.new("RGBA", (64, 64), (200, 40, 40, 255))
    for x in range(64):
        image.putpixel((x, x), (0, 0, 255, 128))
    image.save(path, format="ICO", sizes=[(s, s) for s in sizes])
    return path


def ico_images(data):
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for i in range(count):
        w, h, colors, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append(((w, h, colors, planes, bits, size), data[offset:offset + size]))
    return images


def template_resources():
    return resources(os.path.join(os.path.dirname(args.builder), "Sarvik.Template.exe"))


# ---- cases -------------------------------------------------------------------------------------

def case_build_reads_back():
    work = folder("readback")
    out = os.path.join(work, "Draskel.exe")
    code, lines = build(write_session(os.path.join(work, "s.ini"), base_session(out_path=win_path(out))))
    check(code == 0, f"exit {code}: {lines}")
    data = open(out, "rb").read()
    crc_line = f"sv_patcher_crc32={zlib.crc32(data):08X}"
    check(lines[-1] == crc_line, f"last line {lines[-1]!r}, expected {crc_line}")
    for expected in ["Skin yüklendi: " + win_path(args.skin), "Şablon kopyalandı.", "Sürüm bilgisi yazıldı.",
                     "Doğrulama tamam.", "Tamamlandı → " + win_path(out)]:
        check(expected in lines, f"no line {expected!r} in {lines}")
    check(not any(l.startswith("Uyarı") for l in lines), f"warnings: {lines}")
    check(not os.path.exists(out + ".building"), "work file left")

    res = resources(out)
    package = parse_package(res[(RT_RCDATA, 900, 0)])
    sample = {f.lower(): open(os.path.join(args.skin, f), "rb").read()
              for f in os.listdir(args.skin) if os.path.isfile(os.path.join(args.skin, f))}
    check(set(package) == set(sample), f"entries {sorted(set(package) ^ set(sample))}")
    for name, content in sample.items():
        if name in ("torrentpatch.url.xml", "sarvik.ini"):
            continue
        check(package[name] == content, f"entry {name} changed")
    url = package["torrentpatch.url.xml"].decode("utf-8")
    check('remoteConfigPath="http://127.0.0.1:1/cfg.xml"' in url, f"url file {url!r}")
    check(url.replace("http://127.0.0.1:1/cfg.xml", "http://127.0.0.1:8080/draskeltorrent.config.xml")
          == sample["torrentpatch.url.xml"].decode("utf-8"), "url file changed elsewhere")
    ini = package["sarvik.ini"].decode("utf-8")
    check("connections=6" in ini and "segment_mb=8" in ini and "max_kbps=1500" in ini
          and "title=Draskel Online" in ini, f"ini {ini!r}")

    words, strings = parse_version(res[(RT_VERSION, 1, 0)])
    check(words[0] == 0xFEEF04BD and words[2:6] == (0x00020005, 0, 0x00020005, 0), f"fixed {words}")
    check(words[6:10] == (0x3F, 0, 0x00040004, 1), f"fixed flags {words}")
    check(strings == {"CompanyName": "Draskel Oyun", "FileDescription": "Draskel Online",
                      "FileVersion": "2.5.0.0", "InternalName": "Draskel", "LegalCopyright": "(C) 2026 Draskel",
                      "OriginalFilename": "Draskel.exe", "ProductName": "Draskel",
                      "ProductVersion": "2.5.0.0"}, f"strings {strings}")
    # Everything else of the template, its icons and manifest included, is carried over.
    tmpl = template_resources()
    for key, value in tmpl.items():
        if key[0] in (RT_VERSION, RT_RCDATA):
            continue
        check(res.get(key) == value, f"template resource {key} changed")
    check(set(res) == set(k for k in tmpl if k[0] != RT_RCDATA) | {(RT_RCDATA, 900, 0), (RT_RCDATA, 901, 0)},
          f"resources {sorted(set(res) ^ set(tmpl))}")
    # The package's CRC again, outside the package, where the file's CRC sees it.
    check(res[(RT_RCDATA, 901, 0)] == res[(RT_RCDATA, 900, 0)][-4:], "package digest")
    check((RT_MANIFEST, 1, 0) in res, "manifest")


def case_version_texts():
    work = folder("versions")
    cases = [("3", (0x00030000, 0), "3.0.0.0"), ("70000.1", (0xFFFF0001, 0), "65535.1.0.0"),
             ("x", (0x00010000, 0), "1.0.0.0"), ("1..2.3.4.5", (0x00010002, 0x00030004), "1.2.3.4")]
    for i, (text, fixed, normal) in enumerate(cases):
        out = os.path.join(work, f"v{i}.exe")
        code, lines = build(write_session(os.path.join(work, f"v{i}.ini"), base_session(v_version=text)), out)
        check(code == 0, f"{text}: exit {code} {lines}")
        words, strings = parse_version(resources(out)[(RT_VERSION, 1, 0)])
        check(words[2:6] == fixed * 2, f"{text}: fixed {words[2:6]}")
        check(strings["FileVersion"] == normal and strings["ProductVersion"] == normal, f"{text}: {strings}")
    # Every identity field, the title and the output name empty.
    out = os.path.join(work, "Bos Alan.exe")
    session = base_session(title="", out_name="", v_product="", v_company="", v_version="", v_copyright="")
    code, lines = build(write_session(os.path.join(work, "empty.ini"), session), out)
    check(code == 0, f"exit {code} {lines}")
    words, strings = parse_version(resources(out)[(RT_VERSION, 1, 0)])
    check(strings == {"CompanyName": "Draskel", "FileDescription": "Draskel", "FileVersion": "1.0.0.0",
                      "InternalName": "Bos Alan", "LegalCopyright": "(C) Draskel",
                      "OriginalFilename": "Bos Alan.exe", "ProductName": "Draskel",
                      "ProductVersion": "1.0.0.0"}, f"defaults {strings}")
    check(words[2:6] == (0x00010000, 0, 0x00010000, 0), f"default words {words}")


def case_icon_replaces_every_template_icon():
    work = folder("icon")
    ico = make_ico(os.path.join(work, "simge.ico"))
    out = os.path.join(work, "out.exe")
    code, lines = build(write_session(os.path.join(work, "s.ini"), base_session(icon=win_path(ico))), out)
    check(code == 0, f"exit {code} {lines}")
    check("İkon yazıldı (3 boyut)." in lines, f"lines {lines}")
    res = resources(out)
    images = ico_images(open(ico, "rb").read())
    icons = {k: v for k, v in res.items() if k[0] == RT_ICON}
    check(sorted(icons) == [(RT_ICON, i + 1, 0) for i in range(len(images))], f"icons {sorted(icons)}")
    groups = [k for k in res if k[0] == RT_GROUP_ICON]
    check(groups == [(RT_GROUP_ICON, 1, 0)], f"groups {groups}")
    group = res[(RT_GROUP_ICON, 1, 0)]
    check(struct.unpack_from("<HHH", group) == (0, 1, len(images)), "group header")
    for i, (header, data) in enumerate(images):
        w, h, colors, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        check((w, h, colors, size) == header[:3] + (header[5],), f"group entry {i}")
        check(planes == (header[3] or 1) and bits == (header[4] or 32), f"planes/bits {i}")
        check(ident == i + 1 and res[(RT_ICON, i + 1, 0)] == data, f"image {i}")
    # A PNG becomes the six-size icon.
    png = os.path.join(work, "simge.png")
    Image.new("RGBA", (40, 20), (10, 200, 10, 255)).save(png)
    code, lines = build(write_session(os.path.join(work, "p.ini"), base_session(icon=win_path(png))), out)
    check(code == 0 and "İkon yazıldı (6 boyut)." in lines, f"png icon {code} {lines}")
    icon = Image.open(io.BytesIO(res_icon_file(resources(out))))
    check(sorted(icon.info["sizes"]) == [(s, s) for s in (16, 24, 32, 48, 64, 256)], f"sizes {icon.info}")


def res_icon_file(res):
    """An .ico file made from the group and its images, for PIL."""
    group = res[(RT_GROUP_ICON, 1, 0)]
    count = struct.unpack_from("<H", group, 4)[0]
    header, body = struct.pack("<HHH", 0, 1, count), b""
    offset = 6 + 16 * count
    for i in range(count):
        w, h, c, r, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        data = res[(RT_ICON, ident, 0)]
        header += struct.pack("<BBBBHHII", w, h, c, r, planes, bits, len(data), offset + len(body))
        body += data
    return header + body


def case_refusals_keep_the_old_output():
    work = folder("refusals")
    out = os.path.join(work, "Draskel.exe")
    code, _ = build(write_session(os.path.join(work, "ok.ini"), base_session()), out)
    check(code == 0, "first build")
    old = open(out, "rb").read()

    def refused(session_values, expected, out_path=out, builder=None):
        code, lines = build(write_session(os.path.join(work, "r.ini"), session_values), out_path, builder)
        check(code == 1, f"exit {code} for {expected}: {lines}")
        check(lines[-1] == "Oluşturulamadı: " + expected, f"last line {lines[-1]!r}, expected {expected!r}")
        check(open(out, "rb").read() == old, "the old output changed")
        check(not os.path.exists(out + ".building"), "work file left")

    broken = os.path.join(work, "bozuk.ico")
    data = open(make_ico(os.path.join(work, "iyi.ico")), "rb").read()
    open(broken, "wb").write(data[:4] + struct.pack("<H", 9) + data[6:])
    refused(base_session(icon=win_path(broken)), "İkon dosyası bozuk.")
    refused(base_session(skin=os.path.join(work, "yok")), "Skin bulunamadı: " + win_path(os.path.join(work, "yok")))
    refused(base_session(), "Çıktı dosyası .exe ile bitmeli.", out_path=os.path.join(work, "x.txt"))
    refused(base_session(sign="1", sign_pfx=""), "İmza açık ama sertifika (.pfx) seçilmedi.")
    # 33,000 UTF-16 units of copyright alone pass the 16-bit lengths of the version block.
    refused(base_session(v_copyright="©" * 33000),
            "Sürüm bilgisi 64 KB sınırını aşıyor: ürün adı, şirket, telif hakkı ya da pencere başlığını kısaltın.")
    # The template itself, spelt another way, as the output: it would be replaced by its own copy.
    tmpl = os.path.join(os.path.dirname(args.builder), "Sarvik.Template.exe")
    tmpl_bytes = open(tmpl, "rb").read()
    home = os.path.dirname(os.path.abspath(args.builder))
    spelt = "Z:" + os.path.join(home, "..", os.path.basename(home), "SARVIK.template.EXE").replace("/", "\\")
    code, lines = build(write_session(os.path.join(work, "t.ini"), base_session()), extra_args=[
        "--build", win_path(os.path.join(work, "t.ini")), "--out", spelt])
    check(code == 1 and lines[-1] == "Oluşturulamadı: Çıktı dosyası patcher şablonunun kendisi olamaz: " + spelt,
          f"template as output: exit {code} {lines[-1:]}")
    check(open(tmpl, "rb").read() == tmpl_bytes, "the template changed")
    # Templates that are no program: 511 bytes of "MZ", or 4096 bytes not starting with it.
    for name, content in [("short", b"MZ" + b"\0" * 509), ("notmz", b"ZM" + b"\0" * 4094)]:
        alone = folder("tmpl_" + name)
        shutil.copy(args.builder, alone)
        open(os.path.join(alone, "Sarvik.Template.exe"), "wb").write(content)
        refused(base_session(), "Şablon geçerli bir exe değil.",
                builder=os.path.join(alone, os.path.basename(args.builder)))


def case_exit_codes_and_arguments():
    work = folder("args")
    session = write_session(os.path.join(work, "s.ini"), base_session())
    for bad in [["--build"], ["--build", win_path(session), "--out"], ["--build", win_path(session), "--x"],
                ["--build", win_path(os.path.join(work, "yok.ini"))]]:
        code, lines = build(None, extra_args=bad)
        check(code == 2, f"{bad}: exit {code} {lines}")
    code, lines = build(session, os.path.join(work, "ok.exe"))
    check(code == 0, f"exit {code}")


def case_operator_mistakes_fail_naming_the_fix():
    """--help lists the session keys; a typo'd key, a bare host and a link id the skin does not
    have each fail the build with their line and leave no patcher; a good build prints the
    addresses the patcher will use, marking those left to the skin."""
    work = folder("mistakes")
    for flag in ("--help", "-h", "/?"):
        code, lines = build(None, extra_args=[flag])
        check(code == 0 and any(l.startswith("  config_url — ") for l in lines) and
              any(l.startswith("  register_url — ") for l in lines), f"{flag}: exit {code} {lines[:5]}")
    out = os.path.join(work, "Draskel.exe")
    for overrides, expected in [
            ({"config_ulr": "http://127.0.0.1:1/cfg.xml"},
             "Bilinmeyen oturum anahtarı: config_ulr (config_url mi demek istediniz?)"),
            ({"config_url": "oyun.example.com/draskeltorrent.config.xml"},
             'config_url geçerli bir adres değil: "oyun.example.com/draskeltorrent.config.xml" — adres '
             'http:// ya da https:// ile başlamalı (ör. https://oyun.example.com/draskeltorrent.config.xml).'),
            ({"link.FORUM": "https://forum.example.com/"},
             "Oturumdaki link.FORUM bu skindeki hiçbir butona ait değil; skindeki butonlar: "
             "link.WEBSITE, lang.LAUNCHER_NEW_URL")]:
        code, lines = build(write_session(os.path.join(work, "s.ini"), base_session(**overrides)), out)
        check(code == 1 and lines[-1] == "Oluşturulamadı: " + expected, f"exit {code}, {lines[-1:]}")
        check(not os.path.exists(out), "a patcher was written")
    code, lines = build(write_session(os.path.join(work, "s.ini"), base_session(
        news_url="https://oyun.example.com/haber", register_url="https://oyun.example.com/kayit")), out)
    check(code == 0, f"exit {code} {lines}")
    for line in ("  config_url = http://127.0.0.1:1/cfg.xml", "  iframe_url = https://oyun.example.com/haber",
                 "  lang.LAUNCHER_NEW_URL = https://oyun.example.com/kayit",
                 "  link.WEBSITE = https://draskel.example.com/  [skin'den]"):
        check(line in lines, f"no {line!r} in {lines}")


def case_check_reports_what_players_would_meet():
    """--check fetches the configuration and its lists from a real server once, as a patcher
    would: a crcversion naming no folder and an empty run_path are named and fail the exit code
    (the patcher is written anyway); a good release reports its files."""
    work = folder("check")
    www = os.path.join(work, "www")
    os.makedirs(os.path.join(www, "v1"))
    with open(os.path.join(www, "v1", "crclist"), "w") as f:
        f.write("0000abcd 1536 Draskel.exe\n")
    server = nginx_server.Nginx(www, os.path.join(work, "nginx")).start()
    try:
        out = os.path.join(work, "Draskel.exe")
        for name, run_path, version in (("bad", "", "v9"), ("good", "Draskel.exe", "v1")):
            with open(os.path.join(www, name + ".xml"), "w") as f:
                f.write(f'<torrent_config run_path="{run_path}"><foreground_patch crcpatch_url="{server.url()}/" '
                        f'crcversion="{version}"/></torrent_config>')
        session = write_session(os.path.join(work, "s.ini"), base_session(config_url=server.url() + "/bad.xml"))
        code, lines = build(session, out, extra_args=["--build", win_path(session), "--out", win_path(out), "--check"])
        check(code == 1 and os.path.exists(out), f"bad release: exit {code} {lines[-8:]}")
        check("  SORUN: run_path boş: oyuncunun BAŞLAT düğmesi hiçbir programı başlatamaz." in lines, f"{lines[-8:]}")
        check(f"  SORUN: Dosya listesi sunucuda bulunamadı: {server.url()}/v9/crclist — HTTP 404 (dosya sunucuda yok)"
              in lines and "Kontrol: 2 sorun" in lines, f"{lines[-8:]}")
        session = write_session(os.path.join(work, "s.ini"), base_session(config_url=server.url() + "/good.xml"))
        code, lines = build(session, out, extra_args=["--build", win_path(session), "--out", win_path(out), "--check"])
        check(code == 0 and f"  Kaynak 1: {server.url()}/v1/crclist — 1 dosya, 1,5 KB" in lines and
              "Kontrol: 0 sorun" in lines, f"good release: exit {code} {lines[-8:]}")
    finally:
        server.stop()


def case_password_never_stored():
    work = folder("password")
    # The stand-in signtool lies outside the folder searched for the password: it records it.
    tools_root = folder("password_tools")
    tools = os.path.join(tools_root, "Windows Kits", "10", "bin", "10.0.22621.0", "x86")
    os.makedirs(tools)
    shutil.copy(args.signtool, os.path.join(tools, "signtool.exe"))
    open(os.path.join(tools, "behaviour.txt"), "w").write("0 0")
    pfx = os.path.join(work, "cert.pfx")
    shutil.copy(PFX, pfx)
    out = os.path.join(work, "signed.exe")
    session = write_session(os.path.join(work, "s.ini"),
                            base_session(sign="1", sign_pfx=win_path(pfx), sign_ts=""))
    code, lines = build(session, out, extra_env={"SARVIK_SIGN_PASSWORD": PFX_PASSWORD},
                        windows_env={"ProgramFiles(x86)": win_path(tools_root)})
    check(code == 0 and "Dijital imza eklendi." in lines, f"exit {code} {lines}")
    check(PFX_PASSWORD not in "\n".join(lines), "password in the output")
    for root, _, files in os.walk(work):
        for f in files:
            check(PFX_PASSWORD.encode() not in open(os.path.join(root, f), "rb").read(), f"password in {f}")
    calls = open(os.path.join(tools, "calls.txt"), "rb").read().decode("utf-16-le").split("\n")
    # No /p: the tool is named a store and a thumbprint and finds the key there ("<key ...>"), and
    # the password is not in its environment either (the stand-in would add "<env ...>").
    items = calls[0].split("\x1f") if calls else []
    check(len(calls) == 2 and items[3] == "/s" and items[5:7] == ["/sha1", PFX_THUMBPRINT] and "/p" not in items
          and any(i.startswith("<key ") for i in items) and "<env" not in calls[0]
          and all("gizli" not in i for i in items), f"signtool calls {calls}")


def case_patcher_loads_its_skin():
    work = folder("run")
    out = os.path.join(work, "Draskel.exe")
    code, _ = build(write_session(os.path.join(work, "s.ini"), base_session()), out)
    check(code == 0, "build")
    old = open(out, "rb").read()
    proc = subprocess.Popen([WINE_RUN, out], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    started.append(proc)
    log = os.path.join(work, "temp", "Sarvik.log")
    time.sleep(8)
    check(proc.poll() is None, f"the patcher ended with {proc.returncode}")
    text = open(log, "rb").read().decode("utf-8") if os.path.exists(log) else ""
    check("Skin yuklenemedi" not in text and "Skin uyarisi" not in text, f"log {text!r}")
    # While it runs, a new build onto it fails at the last step and leaves it as it was.
    code, lines = build(write_session(os.path.join(work, "s2.ini"), base_session(v_version="9")), out)
    if code == 0:
        raise Failure("Wine let the build replace a running program (no sharing violation)")
    check(lines[-1] == "Oluşturulamadı: Çıktı dosyası kullanımda (patcher açık olabilir): " + win_path(out),
          f"last line {lines[-1]!r}")
    check(open(out, "rb").read() == old and not os.path.exists(out + ".building"), "old output kept")


def case_killed_builds_leave_no_half_output():
    work = folder("killed")
    out = os.path.join(work, "Draskel.exe")
    code, _ = build(write_session(os.path.join(work, "a.ini"), base_session()), out)
    check(code == 0, "first build")
    old = open(out, "rb").read()
    session = write_session(os.path.join(work, "b.ini"), base_session(v_version="7.7"))
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    for delay in (0.3, 0.6, 0.9, 1.2, 1.5, 2.0):
        proc = subprocess.Popen([WINE_RUN, args.builder, "--build", win_path(session), "--out", win_path(out)],
                                env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        started.append(proc)
        time.sleep(delay)
        proc.kill()  # the Wine process of the builder: as abrupt as a kill -9
        proc.wait()
        time.sleep(0.5)
        data = open(out, "rb").read()
        if data != old:  # the build got to its final move: the new patcher must be whole
            words, _ = parse_version(resources(out)[(RT_VERSION, 1, 0)])
            check(words[2] == 0x00070007, f"after {delay} s: unexpected version {words[2]:#x}")
            parse_package(resources(out)[(RT_RCDATA, 900, 0)])
            old = data


CASES = [case_build_reads_back, case_killed_builds_leave_no_half_output, case_version_texts, case_icon_replaces_every_template_icon,
         case_refusals_keep_the_old_output, case_exit_codes_and_arguments, case_operator_mistakes_fail_naming_the_fix,
         case_check_reports_what_players_would_meet, case_password_never_stored,
         case_patcher_loads_its_skin]


def stop_started():
    stop_processes(started)


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--builder", required=True)
    parser.add_argument("--skin", required=True)
    parser.add_argument("--signtool", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--only")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    return run_cases("builder_build", "BuilderBuild", CASES, args.only, Failure, stop_started)


if __name__ == "__main__":
    sys.exit(main())
