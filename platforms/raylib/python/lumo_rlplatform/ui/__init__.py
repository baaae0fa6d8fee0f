"""Implementations of the lumo_ui platform modules, run under their public
names by lumo_platform; never imported by their own names."""
