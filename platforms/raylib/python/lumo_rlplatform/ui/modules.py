"""The platform's module registry: ``rl`` is the raylib binding (guarded)."""

from lumo_rlplatform import rl

__all__ = ["rl"]
