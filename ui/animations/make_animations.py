#!/usr/bin/env python3
"""Writes the tutorial's two looping animations (Lottie JSON) next to this script.

dictionary-lookup: a word card on the dark panel, a selection sweeping over the word, then a lookup
card rising below it. chat-refine: a rough chat bubble on the light panel, a sweep of the selection,
then a cleaner bubble taking its place. Both loop in 3 s at 30 frames per second.
"""
import json
import os

FPS = 30
FRAMES = 90
EASE = {"i": {"x": [0.4], "y": [1]}, "o": {"x": [0.6], "y": [0]}}


def static(value):
    return {"a": 0, "k": value}


def animated(*keys):
    """keys: (frame, value) pairs; every key but the last eases in and out."""
    frames = []
    for index, (frame, value) in enumerate(keys):
        key = {"t": frame, "s": value if isinstance(value, list) else [value]}
        if index + 1 < len(keys):
            key.update(EASE)
        frames.append(key)
    return {"a": 1, "k": frames}


TRANSFORM = {"ty": "tr", "p": static([0, 0]), "a": static([0, 0]), "s": static([100, 100]), "r": static(0),
             "o": static(100)}


def rect(width, height, radius, colour, opacity=100):
    """One filled rounded rectangle, in a group of its own so that its fill paints it alone."""
    return [{"ty": "gr", "nm": "rect", "it": [
        {"ty": "rc", "d": 1, "s": static([width, height]), "p": static([0, 0]), "r": static(radius)},
        {"ty": "fl", "c": static(colour + [1]), "o": static(opacity), "r": 1},
        TRANSFORM]}]


def layer(index, name, items, position, opacity=static(100), scale=static([100, 100, 100])):
    return {
        "ddd": 0, "ind": index, "ty": 4, "nm": name, "sr": 1, "ao": 0,
        "ks": {"o": opacity, "r": static(0), "p": position, "a": static([0, 0, 0]), "s": scale},
        # A group paints its first shape on top: reversed, so that each rectangle given lies over the ones before.
        "shapes": [{"ty": "gr", "nm": name, "it": list(reversed(items)) + [TRANSFORM]}],
        "ip": 0, "op": FRAMES, "st": 0, "bm": 0,
    }


def animation(name, width, height, layers):
    return {"v": "5.7.4", "fr": FPS, "ip": 0, "op": FRAMES, "w": width, "h": height, "nm": name,
            "ddd": 0, "assets": [], "layers": layers}


def dictionary_lookup():
    w, h = 443, 310
    accent = [0.04, 0.52, 1.0]
    layers = [
        # Topmost first: the lookup card, the selection, the word's letters, the word card.
        layer(1, "lookup", rect(260, 96, 14, [0.2, 0.2, 0.22]) + rect(200, 10, 5, [0.85, 0.85, 0.88]),
              animated((0, [w / 2, 250, 0]), (40, [w / 2, 250, 0]), (55, [w / 2, 205, 0]), (80, [w / 2, 205, 0]),
                       (90, [w / 2, 250, 0])),
              opacity=animated((0, 0), (40, 0), (55, 100), (80, 100), (90, 0))),
        layer(2, "selection", rect(150, 34, 6, accent, 60), static([w / 2, 105, 0]),
              scale=animated((0, [0, 100, 100]), (10, [0, 100, 100]), (35, [100, 100, 100]), (80, [100, 100, 100]),
                             (90, [0, 100, 100]))),
        layer(3, "word", rect(140, 14, 7, [0.92, 0.92, 0.94]), static([w / 2, 105, 0])),
        layer(4, "card", rect(220, 70, 16, [0.17, 0.17, 0.19]), static([w / 2, 105, 0])),
    ]
    return animation("dictionary-lookup", w, h, layers)


def chat_refine():
    w, h = 465, 310
    accent = [0.04, 0.52, 1.0]
    layers = [
        layer(1, "refined", rect(240, 64, 18, accent) + rect(180, 10, 5, [1, 1, 1]),
              animated((0, [w / 2 + 40, 230, 0]), (45, [w / 2 + 40, 230, 0]), (60, [w / 2 + 40, 190, 0]),
                       (80, [w / 2 + 40, 190, 0]), (90, [w / 2 + 40, 230, 0])),
              opacity=animated((0, 0), (45, 0), (60, 100), (80, 100), (90, 0))),
        layer(2, "selection", rect(200, 40, 8, accent, 35), static([w / 2 - 40, 110, 0]),
              scale=animated((0, [0, 100, 100]), (10, [0, 100, 100]), (35, [100, 100, 100]), (80, [100, 100, 100]),
                             (90, [0, 100, 100]))),
        layer(3, "rough", rect(240, 64, 18, [1, 1, 1]) + rect(170, 10, 5, [0.55, 0.55, 0.58]),
              static([w / 2 - 40, 110, 0]), opacity=animated((0, 100), (50, 100), (60, 40), (80, 40), (90, 100))),
    ]
    return animation("chat-refine", w, h, layers)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for data in (dictionary_lookup(), chat_refine()):
        with open(os.path.join(here, data["nm"] + ".json"), "w") as out:
            json.dump(data, out, separators=(",", ":"))
            out.write("\n")
