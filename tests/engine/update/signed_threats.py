"""The attacks on a signed release, shared by the svupdate test (natively and under Wine) and the
patcher window's test: what an attacker on the path serves, and the reason the patcher's log must
name. Every row starts from a game folder that holds release 2 and has accepted it; the served
release is a copy of release 3 that the row's `prepare(www)` changes."""
import collections
import os
import shutil
import zlib

import make_release
import sign_release
import update_test as ut

REFUSED = "Güncelleme reddedildi"
FILES = [("game.exe", 40000), ("data/map one.bin", 700000), ("data/sound.bin", 90000)]
FILES3 = [("game.exe", 40000), ("data/map one.bin", 700123), ("data/new.bin", 5000)]

# remove: a file taken from the game folder first, so that the row's object would be fetched.
Threat = collections.namedtuple("Threat", "name prepare reason remove")


class Releases:
    """Keys, releases 1-3 signed by the first key, and the nginx that serves what `publish` puts
    in its folder. `program`: the bytes of the releases' game.exe (generated when None)."""

    def __init__(self, env, program=None):
        self.env = env
        self.keys = os.path.join(env.work, "keys")
        shutil.rmtree(self.keys, ignore_errors=True)
        os.makedirs(self.keys)
        self.key = sign_release.keygen(os.path.join(self.keys, "k1"))
        self.next = sign_release.keygen(os.path.join(self.keys, "k2"))
        self.other = sign_release.keygen(os.path.join(self.keys, "other"))
        self.serve = os.path.join(env.work, "serve")
        os.makedirs(self.serve, exist_ok=True)
        self.server = env.nginx(self.serve, "signed")
        self.config = self.server.url() + "/config.xml"
        self.source = self.server.url() + "/"
        files, files3 = ([(p, program if p == "game.exe" and program else n) for p, n in f]
                         for f in (FILES, FILES3))
        self.rel1 = self.make("signed-r1", files, 1, "", release=1)
        self.rel2 = self.make("signed-r2", files, 2, ' sv_connections="4"', release=2)
        self.rel3 = self.make("signed-r3", files3, 3, ' sv_connections="3"', release=3)

    def make(self, name, files, seed, attrs, **signing):
        _, rel = ut.release(self.env, name, files, seed, attrs)
        www = os.path.join(rel, "www")
        sign_release.sign(www, signing.pop("key", self.key), {self.source: www}, **signing)
        return rel

    def publish(self, rel):
        """What the server serves from now on: the release's www folder, as it is."""
        shutil.rmtree(self.serve)
        shutil.copytree(os.path.join(rel, "www"), self.serve)

    def serve_attack(self, threat):
        """Publishes release 3 as `threat` changes it."""
        attacked = os.path.join(self.env.work, "attack-" + threat.name)
        shutil.rmtree(attacked, ignore_errors=True)
        shutil.copytree(self.rel3, attacked)
        threat.prepare(os.path.join(attacked, "www"))
        self.publish(attacked)


def rewrite(path, transform):
    with open(path, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(transform(data))


def threats(r):
    rel1, rel2 = r.rel1, r.rel2
    original = open(os.path.join(rel2, "src", "data", "sound.bin"), "rb").read()
    fake_lz = make_release.lz_file(sign_release.forge_same_crc(original, b"MZ attacker's program"))
    genuine_size = os.path.getsize(os.path.join(rel2, "www", "data", "sound.bin.lz"))

    def forged(exact_size):
        # Release 2 as it was signed, with one .lz swapped for bytes of the same decoded size and
        # CRC-32. Cut or padded to the genuine object's size, only its hash can tell.
        def prepare(www):
            shutil.rmtree(www)
            shutil.copytree(os.path.join(rel2, "www"), www)
            data = fake_lz
            if exact_size:
                data = data[:genuine_size].ljust(genuine_size, b"\0")
            with open(os.path.join(www, "data", "sound.bin.lz"), "wb") as f:
                f.write(data)
        return prepare

    def planted_dll(www):
        dll = b"MZ" * 500
        with open(os.path.join(www, "winhttp.dll.lz"), "wb") as f:
            f.write(make_release.lz_file(dll))
        line = f"{zlib.crc32(dll):08x} {len(dll)} winhttp.dll\n".encode()
        rewrite(os.path.join(www, "crclist"), lambda d: d + line)

    def rollback(www):
        shutil.rmtree(www)
        shutil.copytree(os.path.join(rel1, "www"), www)

    def mix(www):
        # Release 3's configuration and manifest with release 2's lists and objects.
        for name in ("crclist", "data"):
            target = os.path.join(www, name)
            shutil.rmtree(target) if os.path.isdir(target) else os.remove(target)
        shutil.copy(os.path.join(rel2, "www", "crclist"), www)
        shutil.copytree(os.path.join(rel2, "www", "data"), os.path.join(www, "data"))

    def manifest(transform):
        return lambda www: rewrite(os.path.join(www, "sarvik.release"), transform)

    longer = "yanıt beklenenden büyük" if len(fake_lz) > genuine_size else "SHA-256 uyusmadi"
    return [
        Threat("ForgedObjectOfTheSignedSizeIsNeverInstalled", forged(True), "SHA-256 uyusmadi",
               "data/sound.bin"),
        Threat("ForgedObjectLongerThanSignedIsNeverInstalled", forged(False), longer,
               "data/sound.bin"),
        Threat("ListLineForWinhttpDllIsRefused", planted_dll, "list mismatch", None),
        Threat("OlderSignedReleaseIsRefused", rollback, "rollback", None),
        Threat("ExpiredManifestIsRefused",
               lambda www: sign_release.sign(www, r.key, {r.source: www}, release=3,
                                             expires=-3600, lists_signed=True), "expired", None),
        Threat("ConfigurationOfOneReleaseWithListsOfAnotherIsRefused", mix, "list mismatch", None),
        Threat("ManifestSignedWithAnotherKeyIsRefused",
               lambda www: sign_release.sign(www, r.other, {r.source: www}, release=3,
                                             lists_signed=True), "wrong key", None),
        Threat("TruncatedSignatureIsRefused", manifest(lambda d: d[:-20] + b"\n"), "garbled",
               None),
        Threat("GarbledManifestIsRefused",
               manifest(lambda d: d.replace(b"release 3", b"release 9")), "wrong key", None),
        Threat("MissingManifestIsRefused",
               lambda www: os.remove(os.path.join(www, "sarvik.release")), "missing manifest",
               None),
        Threat("EndlessManifestIsRefused", manifest(lambda d: d + b"#" * (3 << 20)),
               "missing manifest", None),
    ]
