"""The platform's LmShader type (native, in lumo_rlplatform._native)."""

from lumo_rlplatform._native import LmShader

__all__ = ["LmShader"]
