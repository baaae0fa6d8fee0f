"""The stand-in implementations of the platform modules.

The selector of the lumo-platform distribution runs each file here under
the public name it stands in for (lumo_ui.core.modules, ...), so these are
never imported by their own names.
"""
