"""The platform's LmRect type (native, in lumo_rlplatform._native)."""

from lumo_rlplatform._native import LmRect

__all__ = ["LmRect"]
