#!/usr/bin/env python3
"""Per-job times from the stamped event lines of `clipferry-cli run --json`.

    queue_events.py EVENTS START RES_XML

EVENTS holds "SECONDS<TAB>JSON" lines, SECONDS the time each line arrived; START the time the
run began. Prints one line per job in the order the jobs began:

    CONVERT_S UPLOAD_S ARCHIVE_BYTES CONVERT_BEGIN CONVERT_END UPLOAD_BEGIN UPLOAD_END
    PATH

on one line, the four moments in seconds from START, the path last as it may hold blanks.
Converting runs from the job's "Transfering" state (the source check and one question to the
server come first, tens of milliseconds) to the end of the conversion: the "ready" of a job
converted beside an upload, else the "connecting" status of the front job that follows its
conversion. Uploading runs from the front job's first upload status to its "Finished" state. The
status texts are read from the program's res.xml, so a build in another language is read alike.
"""

import json
import sys
import xml.etree.ElementTree as ElementTree


def status_texts(res_xml):
    texts = {}
    for element in ElementTree.parse(res_xml).iter("text"):
        if element.get("name") in ("msgConnect", "msgUpload"):
            texts[element.get("name")] = element.text or ""
    return texts["msgConnect"], texts["msgUpload"]


def job_times(lines, connect_text, upload_text):
    jobs = {}  # path -> dict of moments
    order = []
    unfinished = []  # jobs begun and not finished, oldest first: the first is the front job

    def job(path):
        if path not in jobs:
            jobs[path] = {"bytes": 0}
            order.append(path)
        return jobs[path]

    for stamp, event in lines:
        kind = event.get("event")
        path = event.get("path")
        front = unfinished[0] if unfinished else None
        if kind == "state":
            entry = job(path)
            if event["state"] == "Transfering" and "convert_begin" not in entry:
                entry["convert_begin"] = stamp
                unfinished.append(path)
            elif event["state"] != "Transfering":
                entry["upload_end"] = stamp
                entry["final"] = event["state"]
                if path in unfinished:
                    unfinished.remove(path)
        elif kind == "next" and event.get("next") == "ready":
            job(path).setdefault("convert_end", stamp)
        elif kind == "status" and front is not None:
            entry = jobs[front]
            text = event.get("text", "")
            if text == connect_text:
                entry.setdefault("convert_end", stamp)
            elif text.startswith(upload_text) and "convert_end" in entry:
                entry.setdefault("upload_begin", stamp)
        elif kind == "progress" and front is not None and "totalBytes" in event:
            jobs[front]["bytes"] = max(jobs[front]["bytes"], int(event["totalBytes"]))
    return [(path, jobs[path]) for path in order]


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    with open(argv[2]) as start_file:
        start = float(start_file.read())
    connect_text, upload_text = status_texts(argv[3])
    lines = []
    with open(argv[1], encoding="utf-8") as events:
        for line in events:
            stamp, _, text = line.rstrip("\n").partition("\t")
            lines.append((float(stamp) - start, json.loads(text)))
    failed = False
    for path, entry in job_times(lines, connect_text, upload_text):
        moments = ("convert_begin", "convert_end", "upload_begin", "upload_end")
        if entry.get("final") != "Finished" or any(m not in entry for m in moments):
            print("incomplete job %s: %s" % (path, entry), file=sys.stderr)
            failed = True
            continue
        b, c, u, e = (entry[m] for m in moments)
        print("%.3f %.3f %d %.3f %.3f %.3f %.3f %s" % (c - b, e - u, entry["bytes"], b, c, u, e,
                                                      path))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
