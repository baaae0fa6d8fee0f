"""Taken from the platform that LUMO_PLATFORM selects (see lumo_platform)."""

import lumo_platform

lumo_platform.load(__name__)
