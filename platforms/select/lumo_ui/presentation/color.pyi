# The colours' types, whichever platform supplies the class: (r, g, b, a),
# four ints 0-255, the colour type of the render target's stubs.

class Color:
    White: tuple[int, int, int, int]
    Black: tuple[int, int, int, int]
    Blank: tuple[int, int, int, int]
    Red: tuple[int, int, int, int]
    Green: tuple[int, int, int, int]
    Blue: tuple[int, int, int, int]
    Yellow: tuple[int, int, int, int]
    Gray: tuple[int, int, int, int]
