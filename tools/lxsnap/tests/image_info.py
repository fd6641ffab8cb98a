#!/usr/bin/env python3
"""Prints "NAME WIDTHxHEIGHT MODE" for each image file, as Pillow opens it."""
import os
import sys

from PIL import Image

for path in sys.argv[1:]:
    with Image.open(path) as image:
        image.load()
        print(f"{os.path.basename(path)} {image.width}x{image.height} {image.mode}")
