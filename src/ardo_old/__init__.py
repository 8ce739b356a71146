"""Assessment scoring, speech output and run configuration for the ardo assistant.

The three extension modules are imported by name: ``ardo_old.mind``, ``ardo_old.audio`` and
``ardo_old.args``. Importing this package imports none of them, so a host that only scores
never needs the speech packages.
"""

__all__ = ["__version__"]
__version__ = "0.1.0"
