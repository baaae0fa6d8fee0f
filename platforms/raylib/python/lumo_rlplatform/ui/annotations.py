"""The platform's annotation helpers."""


class Annotations:
    """Marker namespace for type annotations."""
