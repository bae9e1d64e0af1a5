"""Every file the generator writes, by name, with the emitter that writes it.

EMITTERS read the catalogue: emit(catalogue, numbered). PROTOCOL_EMITTERS
read the protocol records too: emit(protocol, catalogue, numbered).
"""

from .emit_client import EMITTERS as CLIENT
from .emit_dispatch import EMITTERS as DISPATCH
from .emit_listing import EMITTERS as LISTING
from .emit_listing import PROTOCOL_EMITTERS as LISTING_PROTOCOL
from .emit_model import EMITTERS as MODEL
from .emit_protocol import EMITTERS as PROTOCOL
from .emit_protocol_file import PROTOCOL_EMITTERS as PROTOCOL_FILE
from .emit_python import EMITTERS as PYTHON
from .emit_records import EMITTERS as RECORDS
from .emit_routines import EMITTERS as ROUTINES
from .emit_values import EMITTERS as VALUES

EMITTERS = {**DISPATCH, **LISTING, **VALUES, **MODEL, **ROUTINES, **CLIENT, **PYTHON}
PROTOCOL_EMITTERS = {**PROTOCOL, **PROTOCOL_FILE, **LISTING_PROTOCOL, **RECORDS}
