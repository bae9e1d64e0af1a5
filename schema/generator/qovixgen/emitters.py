"""Every file the generator writes, by name, with the emitter that writes it."""

from .emit_client import EMITTERS as CLIENT
from .emit_dispatch import EMITTERS as DISPATCH
from .emit_listing import EMITTERS as LISTING
from .emit_model import EMITTERS as MODEL
from .emit_protocol_file import EMITTERS as PROTOCOL_FILE
from .emit_python import EMITTERS as PYTHON
from .emit_routines import EMITTERS as ROUTINES
from .emit_values import EMITTERS as VALUES

EMITTERS = {**DISPATCH, **LISTING, **VALUES, **MODEL, **PROTOCOL_FILE, **ROUTINES, **CLIENT, **PYTHON}
