"""HttpDownload against real peers: nginx as the download server, the scripted fault server, and
squid demanding basic authentication as the system proxy of a Wine prefix, whose credentials dialog
and message boxes are answered with real keys and clicks."""

import os
import sys
import unittest

from mirevale import serve, xdo
from mirevale.faultserver import fault_server, pattern

import harness

DIALOG = "代理验证"
MESSAGE = "提示"


class NetTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.files = harness.scratch("net-files")
        for size in (0, 5000, 100000, 100001, 10485760, 36700160):
            name = "empty.bin" if size == 0 else "p%d.bin" % size
            (cls.files / name).write_bytes(pattern(size))

    def run_case(self, prefix, gtest_filter, env, driver=None):
        """Runs one GoogleTest case while `driver(proc)` acts as the user, and checks it passed."""
        code, text = harness.run_peer_case(prefix, "net", gtest_filter, env, driver)
        self.assertEqual(0, code, text)
        self.assertIn("[  PASSED  ] 1 test", text)

    def test_direct_downloads_and_faults(self):
        with harness.nginx(self.files) as base, fault_server() as fault:
            env = {"MIREVALE_TEST_BASE_URL": base, "MIREVALE_TEST_FAULT_URL": fault,
                   "MIREVALE_TEST_CLOSED_URL": "http://127.0.0.1:%d/EX/" % serve.free_port()}
            code, out = harness.run_peer_tests(harness.new_prefix("net-direct"), "net", "HttpDownloadTest.*", env=env)
            self.assertEqual(0, code, out)
            self.assertNotIn("FAILED", out)

    def test_proxy_authentication(self):
        prefix = harness.new_prefix("net-proxy")
        certs = harness.tls_certificates()
        harness.trust_root(prefix, certs["root"])
        with harness.nginx(self.files) as base, harness.squid("mirevale", "s3cret") as proxy, \
                harness.nginx(self.files, tls=certs["good"]) as tls_base:
            harness.set_system_proxy(prefix, proxy)
            env = {"MIREVALE_TEST_BASE_URL": base}
            shots = harness.BUILD / "e2e" / "screenshots"
            shots.mkdir(parents=True, exist_ok=True)

            def answer_dialog(proc, *steps, shot=None):
                window = xdo.find(DIALOG, proc=proc)
                self.assertIsNotNone(window, "the credentials dialog did not appear")
                for kind, value in steps:
                    if kind == "type":
                        xdo.type_text(window, value)
                    elif kind == "key":
                        xdo.keys(window, value)
                    if shot and kind == "type":
                        xdo.screenshot(shots / shot, window)
                self.assertTrue(xdo.gone(window), "the credentials dialog stayed open")

            def confirm_message(proc):
                window = xdo.find(MESSAGE, proc=proc)
                self.assertIsNotNone(window, "the authentication failure message did not appear")
                xdo.keys(window, "Return")
                self.assertTrue(xdo.gone(window))

            def no_dialog_until_exit(proc):
                while proc.poll() is None:
                    if xdo.find(DIALOG, timeout=0.5, proc=proc):
                        xdo.keys(xdo.find(DIALOG, timeout=1), "Escape")
                        self.fail("the dialog came again although credentials were remembered")

            def credentials_once(proc):
                answer_dialog(proc, ("key", "Tab"), ("key", "Tab"), ("type", "mirevale"), ("key", "Tab"),
                              ("type", "s3cret"), ("key", "Return"), shot="proxy-dialog.png")
                no_dialog_until_exit(proc)

            def cancel_then_close_then_right(proc):
                answer_dialog(proc, ("key", "Escape"))
                # With no window manager drawing captions, Alt+F4 sends the close command that the
                # caption's close box sends.
                answer_dialog(proc, ("key", "alt+F4"))
                answer_dialog(proc, ("key", "Tab"), ("key", "Tab"), ("type", "mirevale"), ("key", "Tab"),
                              ("type", "s3cret"), ("key", "Return"))

            def refused(proc):
                answer_dialog(proc, ("key", "Tab"), ("key", "Tab"), ("type", "mirevale"), ("key", "Tab"),
                              ("type", "wrong"), ("key", "Return"))
                confirm_message(proc)
                confirm_message(proc)
                no_dialog_until_exit(proc)

            def empty_then_cancel(proc):
                answer_dialog(proc, ("key", "Return"))
                confirm_message(proc)
                answer_dialog(proc, ("key", "Escape"))

            self.run_case(prefix, "ProxyTest.AsksOnceAndReusesTheCredentials", env, credentials_once)
            self.run_case(prefix, "ProxyTest.CancelledDialogFailsAndTheNextAnswerAsksAgain", env,
                          cancel_then_close_then_right)
            self.run_case(prefix, "ProxyTest.RefusedCredentialsFailEveryTimeWithoutAskingAgain", env, refused)
            self.run_case(prefix, "ProxyTest.EmptyFieldsAreAcceptedAndAskedForAgain", env, empty_then_cancel)

            # Over TLS the proxy is asked for a tunnel (CONNECT), and its 407 is answered the same way. Wine 10,
            # the 32-bit runtime's, refuses the test CA's certificates there (12057) in either width.
            if harness.WIDTH != "i686":
                env = {"MIREVALE_TEST_BASE_URL": tls_base}
                self.run_case(prefix, "ProxyTest.AsksOnceAndReusesTheCredentials", env, credentials_once)
                self.run_case(prefix, "ProxyTest.RefusedCredentialsFailEveryTimeWithoutAskingAgain", env, refused)


if __name__ == "__main__":
    unittest.main(verbosity=2)
