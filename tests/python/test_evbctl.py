"""evbctl.py against simulated boards (evbsim on pseudo-terminals), through the build's evbctl."""

import os
import subprocess
import sys
import tempfile
import unittest

from evbctl import EvbError, Session

SOURCE = os.environ["EVB_SOURCE_DIR"]
CODEC_MAP = os.path.join(SOURCE, "tests/protocol/regmaps/codec.json")  # ADC_VOL_L is 0x10
PRESET = os.path.join(SOURCE, "presets/examples/example.txt")


class Boards(unittest.TestCase):
    """Four evbsim boards, each on its own pseudo-terminal."""

    def setUp(self):
        self.sims = [subprocess.Popen([os.environ["EVBSIM"], "--no-pace"], stdout=subprocess.PIPE, text=True)
                     for _ in range(4)]
        self.ports = [sim.stdout.readline().strip() for sim in self.sims]
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        for sim in self.sims:
            sim.terminate()
            sim.wait()
            sim.stdout.close()
        self.dir.cleanup()

    def path(self, name, text=None):
        path = os.path.join(self.dir.name, name)
        if text is not None:
            with open(path, "w") as f:
                f.write(text)
        return path

    def test_registers_and_fields_by_name_and_a_failure_as_evberror(self):
        with Session(port=self.ports[0], options=["--regmap", CODEC_MAP]) as s:
            self.assertEqual(s.write("ADC_VOL_L", 0x85), 0x85)
            self.assertEqual(s.read(0x10), 0x85)
            self.assertEqual(s.write("ADC_VOL_L.VOL", 7), 0x87)
            self.assertEqual([(f["name"], f["value"]) for f in s.fields("ADC_VOL_L")["fields"]],
                             [("VOL", 7), ("MUTE", 1)])
            with self.assertRaises(EvbError) as e:
                s.read(0x100)
            self.assertEqual((e.exception.exit, e.exception.message), (2, "register out of range (0..255): '256'"))
            self.assertEqual(s.read(0x10), 0x87)  # the session goes on

    def test_a_second_board_saves_diffs_and_restores_and_a_missing_port_is_exit_3(self):
        with Session() as s:
            with self.assertRaises(EvbError) as e:
                s.board("gone", "/nonexistent/tty")
            self.assertEqual(e.exception.exit, 3)
            b = s.board("b2", self.ports[1])
            golden = self.path("golden.txt")
            self.assertEqual(b.save(golden, 32)["count"], 32)
            b.write(0x1A, 0x5A)
            self.assertEqual([(d["reg"], d["board"]) for d in b.diff(golden, 32)], [(0x1A, 0x5A)])
            self.assertEqual(b.restore(golden, 32)["written"], 1)
            self.assertEqual(b.diff(golden, 32), [])
            self.assertEqual(b.send(PRESET)["frames"], 10)
            b.close()
            with self.assertRaises(EvbError):
                b.read(0)

    def test_the_station_example_passes_matching_boards_and_fails_one_that_differs(self):
        station = [sys.executable, os.path.join(SOURCE, "examples/station.py"), "--preset", PRESET]
        run = subprocess.run(station + ["--golden", PRESET] + self.ports, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("4 of 4 boards pass", run.stdout)
        golden = self.path("golden.txt", ":W0131@\n")  # the preset writes 0x30 to register 1
        run = subprocess.run(station + ["--golden", golden] + self.ports[:2], capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        self.assertIn("FAIL  0x01: board 0x30, golden 0x31", run.stdout)
        self.assertIn("0 of 2 boards pass", run.stdout)


if __name__ == "__main__":
    unittest.main()
