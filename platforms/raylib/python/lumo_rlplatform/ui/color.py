"""Colour constants: (r, g, b, a) tuples of integers 0-255."""


class Color:
    White = (255, 255, 255, 255)
    Black = (0, 0, 0, 255)
    Blank = (0, 0, 0, 0)
    Red = (230, 41, 55, 255)
    Green = (0, 228, 48, 255)
    Blue = (0, 121, 241, 255)
    Yellow = (253, 249, 0, 255)
    Gray = (130, 130, 130, 255)
