#!/usr/bin/python3
"""Where a skin's controls are: reads skin.xml and the images' sizes, so tests can aim clicks at
buttons and drags at pictures."""
import os
import xml.etree.ElementTree as ET

from PIL import Image


class SkinLayout:
    def __init__(self, folder):
        self.folder = folder
        root = ET.parse(os.path.join(folder, "skin.xml")).getroot()
        self.width, self.height = self._size(root.get("background_image"))
        self.controls = {}
        for c in root.iter("control"):
            image = c.get("image")
            w, h = self._size(image + "_up" if c.get("type") == "button" else image) if image else (0, 0)
            self.controls[c.get("id").upper()] = (int(c.get("x")), int(c.get("y")), w, h)

    def _size(self, name):
        for candidate in (name, name + ".png"):
            path = os.path.join(self.folder, candidate)
            if os.path.isfile(path):
                with Image.open(path) as im:
                    return im.size
        return (0, 0)

    def rect(self, control_id):
        return self.controls[control_id]

    def center(self, control_id):
        x, y, w, h = self.controls[control_id]
        return x + w // 2, y + h // 2
