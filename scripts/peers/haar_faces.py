#!/usr/bin/python3
"""Runs OpenCV's frontal-face Haar cascade on a photo, for comparison with detect_faces.

    haar_faces.py PHOTO [--sizes SMALLEST LARGEST] [--time RUNS]

The photo is read as grey by OpenCV; the cascade is haarcascade_frontalface_default.xml
of the Debian package opencv-data, run by detectMultiScale at its defaults (scale factor
1.1, 3 neighbours, no size limits) or, with --sizes, with minSize and maxSize set to the
smallest and largest face height in pixels.

Prints one detection a line, "row,col,height,width,weight": the box centre (pixels counted
from 1, as Octave counts) and size, ranked by the cascade's level weight, highest first.
The cascade gives no score of its own: the level weight is what detectMultiScale3 reports
for each detection with outputRejectLevels set (its detections are detectMultiScale's).

With --time RUNS it prints instead, on one line, "seconds,cpuSeconds,detections,threads":
the median elapsed and processor times of RUNS calls of detectMultiScale after one untimed
call (reading the photo is not timed), the detections made, and the threads OpenCV runs on.

Exits with status 3 and one line on standard error when OpenCV or the cascade is missing
(scripts/install-deps.sh peers installs them), 2 when the photo cannot be read.
"""
import argparse
import os
import statistics
import sys
import time

CASCADE = "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml"
MISSING_PEER = 3
BAD_PHOTO = 2


def fail(status, message):
    print(f"haar_faces: {message}", file=sys.stderr)
    sys.exit(status)


def load_cascade():
    try:
        import cv2
    except ImportError:
        fail(MISSING_PEER, "OpenCV for Python is not installed (scripts/install-deps.sh peers)")
    cascade = cv2.CascadeClassifier(CASCADE)
    if cascade.empty():
        fail(MISSING_PEER, f"cannot load {CASCADE} (scripts/install-deps.sh peers)")
    return cv2, cascade


def size_limits(sizes):
    if sizes is None:
        return {}
    smallest, largest = (round(size) for size in sizes)
    return {"minSize": (smallest, smallest), "maxSize": (largest, largest)}


def ranked_detections(cascade, grey, limits):
    boxes, _, weights = cascade.detectMultiScale3(grey, outputRejectLevels=True, **limits)
    order = sorted(range(len(boxes)), key=lambda k: -float(weights[k]))
    for k in order:
        left, top, width, height = (int(v) for v in boxes[k])
        yield (top + 1 + (height - 1) / 2, left + 1 + (width - 1) / 2, height, width,
               float(weights[k]))


def median_times(cascade, grey, limits, runs):
    # One call first, not timed: the first call also sets OpenCV's buffers and threads up.
    cascade.detectMultiScale(grey, **limits)
    times, cpu_times = [], []
    for _ in range(runs):
        started, cpu_started = time.perf_counter(), time.process_time()
        boxes = cascade.detectMultiScale(grey, **limits)
        times.append(time.perf_counter() - started)
        cpu_times.append(time.process_time() - cpu_started)
    return statistics.median(times), statistics.median(cpu_times), len(boxes)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("photo")
    parser.add_argument("--sizes", nargs=2, type=float, metavar=("SMALLEST", "LARGEST"))
    parser.add_argument("--time", type=int, metavar="RUNS")
    arguments = parser.parse_args()
    cv2, cascade = load_cascade()
    grey = None
    if os.access(arguments.photo, os.R_OK):
        grey = cv2.imread(arguments.photo, cv2.IMREAD_GRAYSCALE)
    if grey is None:
        fail(BAD_PHOTO, f"cannot read the photo {arguments.photo}")
    limits = size_limits(arguments.sizes)
    if arguments.time:
        seconds, cpu_seconds, count = median_times(cascade, grey, limits, arguments.time)
        print(f"{seconds:.4f},{cpu_seconds:.4f},{count},{cv2.getNumThreads()}")
        return
    for detection in ranked_detections(cascade, grey, limits):
        print("%.1f,%.1f,%d,%d,%.4f" % detection)


if __name__ == "__main__":
    main()
