"""The platform's LmVector2 type (native, in lumo_rlplatform._native)."""

from lumo_rlplatform._native import LmVector2

__all__ = ["LmVector2"]
