"""Execute fetches and checks the manifest from a real nginx, directly and through an
authenticating squid; each case has its own server folder and so its own base URL."""

import random
import unittest

from mirevale import xdo

import harness

GOOD = "core.zip;1;1\r\nyahei.zip;2;2\r\nplain.zip;3;3\r\nbad kind.zip;4;x\r\n spaced name.zip ;5;9\r\nskipped;line\r\n"


def served(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


class ManifestTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = harness.scratch("manifest")
        rng = random.Random(8)
        cases = {
            "Manifest": served(GOOD),
            "Empty": b"",
            "TooShort": b"\xff\xfe",
            "ThreeBytes": b"\xff\xfeA",
            "LineFeedsOnly": served("a.zip;1;1\nb.zip;1;1\nc.zip;1;1\n"),
            "NoContent": b"\xff\xfe\x00\x00",
            "Garbage": bytes(rng.randrange(256) for _ in range(5000)),
        }
        for name, data in cases.items():
            (cls.root / name).mkdir()
            (cls.root / name / "orbsetup.txt").write_bytes(data)
        (cls.root / "Missing").mkdir()
        for name in ("ThroughProxyAsksOnce", "ThroughProxyRefused"):
            (cls.root / name).mkdir()
            (cls.root / name / "orbsetup.txt").write_bytes(served(GOOD))
        cls.prefix = harness.new_prefix("manifest")

    def run_case(self, base, name, prefix=None, driver=None):
        code, text = harness.run_peer_case(prefix or self.prefix, "manifest", "ExecuteTest." + name,
                                           {"MIREVALE_TEST_BASE_URL": base + name + "/"}, driver)
        self.assertEqual(0, code, text)
        self.assertIn("[  PASSED  ] 1 test", text)

    def test_direct(self):
        with harness.nginx(self.root) as base:
            for name in ("Manifest", "Missing", "Empty", "TooShort", "ThreeBytes", "LineFeedsOnly", "NoContent",
                         "Garbage"):
                with self.subTest(name):
                    self.run_case(base, name)

    def test_through_proxy(self):
        prefix = harness.new_prefix("manifest-proxy")

        def answer(proc, password, cancel=False):
            window = xdo.find("代理验证", proc=proc)
            self.assertIsNotNone(window)
            if cancel:
                xdo.keys(window, "Escape")
            else:
                xdo.keys(window, "Tab", "Tab")
                xdo.type_text(window, "mirevale")
                xdo.keys(window, "Tab")
                xdo.type_text(window, password)
                xdo.keys(window, "Return")
            self.assertTrue(xdo.gone(window))

        def refused(proc):
            answer(proc, "wrong")
            box = xdo.find("提示", proc=proc)
            self.assertIsNotNone(box, "the authentication failure message did not appear")
            xdo.keys(box, "Return")

        with harness.nginx(self.root) as base, harness.squid("mirevale", "s3cret") as proxy:
            harness.set_system_proxy(prefix, proxy)
            self.run_case(base, "ThroughProxyAsksOnce", prefix, lambda proc: answer(proc, "s3cret"))
            self.run_case(base, "ThroughProxyRefused", prefix, refused)
            self.run_case(base, "ThroughProxyRefused", prefix, lambda proc: answer(proc, "", cancel=True))


if __name__ == "__main__":
    unittest.main(verbosity=2)
