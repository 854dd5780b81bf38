#!/usr/bin/env python3
"""Checks queue_events.job_times on event streams shaped like those of `clipferry-cli run --json`.

    python3 bench/wan/test_queue_events.py
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import queue_events  # noqa: E402

CONNECT = "Conncecting server ..."
UPLOAD = "Uploading data to the server ..."
A = "/clips/lecture 1.mkv"
B = "/clips/lecture 2.mkv"


def state(path, name):
    return {"event": "state", "path": path, "state": name}


def status(text):
    return {"event": "status", "text": text}


def upload_progress(total):
    return {"event": "progress", "percent": 50, "bytes": total // 2, "totalBytes": total}


def ready(path):
    return {"event": "next", "path": path, "next": "ready"}


def converting(path):
    return {"event": "next", "path": path, "next": "converting 50%", "percent": 50}


# Each case: the events at seconds 0, 1, 2, ... and the expected
# (path, convert_begin, convert_end, upload_begin, upload_end, bytes) of each job.
CASES = {
    "one after another": (
        [state(A, "Transfering"), status(CONNECT), status(UPLOAD), upload_progress(100),
         status(UPLOAD + " 50%"), state(A, "Finished"),
         state(B, "Transfering"), status(CONNECT), status(UPLOAD), upload_progress(200),
         state(B, "Finished")],
        [(A, 0, 1, 2, 5, 100), (B, 6, 7, 8, 10, 200)]),
    "the next converted beside the upload": (
        [state(A, "Transfering"), status(CONNECT), state(B, "Transfering"), status(UPLOAD),
         converting(B), upload_progress(100), ready(B), state(A, "Finished"),
         status(CONNECT), status(UPLOAD), upload_progress(200), state(B, "Finished")],
        [(A, 0, 1, 3, 7, 100), (B, 2, 6, 9, 11, 200)]),
    # The upload ended first: the job beside became the front job and ended its conversion
    # without a "ready"; the front job's connecting status marks the end.
    "the upload ends before the conversion beside": (
        [state(A, "Transfering"), status(CONNECT), state(B, "Transfering"), status(UPLOAD),
         upload_progress(100), state(A, "Finished"), status(CONNECT), status(UPLOAD),
         upload_progress(200), state(B, "Finished")],
        [(A, 0, 1, 3, 5, 100), (B, 2, 6, 7, 9, 200)]),
    # Progress figures of the front upload are not the job beside's archive.
    "sizes follow the front job": (
        [state(A, "Transfering"), status(CONNECT), state(B, "Transfering"), status(UPLOAD),
         upload_progress(300), ready(B), upload_progress(300), state(A, "Finished"),
         status(CONNECT), status(UPLOAD), upload_progress(50), state(B, "Finished")],
        [(A, 0, 1, 3, 7, 300), (B, 2, 5, 9, 11, 50)]),
}


class JobTimesTest(unittest.TestCase):
    def test_cases(self):
        for name, (events, expected) in CASES.items():
            with self.subTest(name):
                lines = [(float(i), event) for i, event in enumerate(events)]
                got = [(path, e["convert_begin"], e["convert_end"], e["upload_begin"],
                        e["upload_end"], e["bytes"])
                       for path, e in queue_events.job_times(lines, CONNECT, UPLOAD)]
                self.assertEqual(got, expected)
                for path, entry in queue_events.job_times(lines, CONNECT, UPLOAD):
                    self.assertEqual(entry["final"], "Finished", path)

    def test_a_paused_job_is_not_finished(self):
        events = [state(A, "Transfering"), status(CONNECT), status(UPLOAD),
                  status("pausing"), state(A, "Waiting")]
        lines = [(float(i), event) for i, event in enumerate(events)]
        [(path, entry)] = queue_events.job_times(lines, CONNECT, UPLOAD)
        self.assertEqual((path, entry["final"]), (A, "Waiting"))

    def test_status_texts_come_from_the_resources(self):
        here = os.path.dirname(os.path.abspath(__file__))
        res = os.path.join(here, "..", "..", "resources", "res.xml")
        self.assertEqual(queue_events.status_texts(res), (CONNECT, UPLOAD))


if __name__ == "__main__":
    unittest.main()
