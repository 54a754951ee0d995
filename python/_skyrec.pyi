"""Types of _skyrec, the extension module: framing, tables, expansion and decoding.

Descriptors are plain integers F * 100000 + X * 1000 + Y (301011 for 3-01-011).
Every error of a message or a table is a ValueError with a precise text.
"""

from collections.abc import Sequence
from typing import SupportsIndex, final

__all__ = [
    "BufrMessage",
    "DecodedValue",
    "Descriptor",
    "ElementDefinition",
    "SequenceDefinition",
    "TableSet",
    "parse_bytes",
    "parse_file",
    "parse_all_bytes",
    "parse_all_file",
    "expand_descriptors",
    "decode_values",
    "decode_values_with_tables",
    "decode_values_with_definitions",
]

@final
class BufrMessage:
    """One framed message's header (sections 0 to 3), read-only."""

    @property
    def unexpanded_descriptors(self) -> list[int]: ...
    @property
    def total_length(self) -> int: ...
    @property
    def section1_length(self) -> int: ...
    @property
    def section2_length(self) -> int: ...
    @property
    def section3_length(self) -> int: ...
    @property
    def section4_length(self) -> int: ...
    @property
    def section4_data_offset(self) -> int: ...
    @property
    def section4_data_length(self) -> int: ...
    @property
    def originating_centre(self) -> int: ...
    @property
    def originating_subcentre(self) -> int: ...
    @property
    def typical_year(self) -> int: ...
    @property
    def number_of_subsets(self) -> int: ...
    @property
    def local_section_present(self) -> bool: ...
    @property
    def observed_data(self) -> bool: ...
    @property
    def compressed_data(self) -> bool: ...
    @property
    def edition(self) -> int: ...
    @property
    def master_table_number(self) -> int: ...
    @property
    def update_sequence_number(self) -> int: ...
    @property
    def data_category(self) -> int: ...
    @property
    def international_data_subcategory(self) -> int: ...
    @property
    def local_data_subcategory(self) -> int: ...
    @property
    def master_tables_version_number(self) -> int: ...
    @property
    def local_tables_version_number(self) -> int: ...
    @property
    def typical_month(self) -> int: ...
    @property
    def typical_day(self) -> int: ...
    @property
    def typical_hour(self) -> int: ...
    @property
    def typical_minute(self) -> int: ...
    @property
    def typical_second(self) -> int: ...

@final
class DecodedValue:
    """One decoded value, owning its texts."""

    @property
    def raw_value(self) -> float | None:
        """The scaled number; None when missing or for character data."""
    @property
    def raw(self) -> int | None:
        """The raw integer read from the data; None for character data."""
    @property
    def name(self) -> str: ...
    @property
    def raw_text(self) -> str | None:
        """Character data, None for numbers."""
    @property
    def raw_meaning(self) -> str | None:
        """The code-table meaning of the value, when the tables have one; for a
        flag table, the entries of its set bits joined by "; "."""
    @property
    def descriptor(self) -> int: ...
    @property
    def data(self) -> str | float | None:
        """The most useful form: text, else meaning, else the number, else None."""

@final
class Descriptor:
    """A descriptor code by its parts F, X and Y."""

    def __new__(cls, f: SupportsIndex, x: SupportsIndex, y: SupportsIndex) -> Descriptor: ...
    @staticmethod
    def from_fxy(code: SupportsIndex) -> Descriptor:
        """The parts of the integer form F * 100000 + X * 1000 + Y."""
    @property
    def f(self) -> int: ...
    @property
    def x(self) -> int: ...
    @property
    def y(self) -> int: ...
    @property
    def fxy(self) -> int:
        """The integer form F * 100000 + X * 1000 + Y."""

@final
class ElementDefinition:
    """One Table B entry."""

    @property
    def code(self) -> int: ...
    @property
    def abbreviation(self) -> str: ...
    @property
    def element_type(self) -> str: ...
    @property
    def name(self) -> str: ...
    @property
    def unit(self) -> str: ...
    @property
    def scale(self) -> int: ...
    @property
    def reference(self) -> int: ...
    @property
    def width(self) -> int: ...

@final
class SequenceDefinition:
    """One Table D entry."""

    @property
    def code(self) -> int: ...
    @property
    def members(self) -> list[int]:
        """A new list on every access."""

@final
class TableSet:
    """Loaded Table B, Table D and code tables."""

    def __new__(cls) -> TableSet: ...
    @staticmethod
    def from_eccodes(path: str) -> TableSet:
        """One ecCodes table directory: element.table, sequence.def, codetables/."""
    @staticmethod
    def from_bufr4_45(path: str) -> TableSet:
        """WMO BUFR4 CSV tables (BUFRCREX_TableB_en_*.csv, BUFR_TableD_en_*.csv)."""
    @staticmethod
    def from_definitions(path: str, message: BufrMessage) -> TableSet:
        """The master and local tables that `message` names in an ecCodes definitions root."""
    def get_element(self, code: SupportsIndex) -> ElementDefinition | None: ...
    def get_sequence(self, code: SupportsIndex) -> SequenceDefinition | None: ...
    def get_meaning(self, code: SupportsIndex, raw: SupportsIndex) -> str | None: ...
    def expand(self, descriptors: Sequence[SupportsIndex]) -> list[int]:
        """Sequences replaced by their members, fixed replications unrolled."""
    @property
    def element_count(self) -> int: ...
    @property
    def sequence_count(self) -> int: ...

def parse_bytes(data: bytes) -> BufrMessage:
    """Frames `data` as exactly one message."""

def parse_file(path: str) -> BufrMessage:
    """Frames the file at `path` as exactly one message."""

def parse_all_bytes(data: bytes) -> list[BufrMessage]:
    """Every message in `data`, skipping bytes between them; a bad one fails the call."""

def parse_all_file(path: str) -> list[BufrMessage]:
    """Every message in the file at `path`; a bad one fails the call."""

def expand_descriptors(table_dir: str, descriptors: Sequence[SupportsIndex]) -> list[int]:
    """Loads a table directory and expands `descriptors` with it."""

def decode_values(data: bytes, table_dir: str) -> list[DecodedValue]:
    """The values of the first message in `data`, with the tables of `table_dir`."""

def decode_values_with_tables(data: bytes, tables: TableSet) -> list[DecodedValue]:
    """The values of the first message in `data`, with loaded tables."""

def decode_values_with_definitions(data: bytes, definitions_root: str) -> list[DecodedValue]:
    """The values of the first message in `data`, with the tables it names in a definitions root."""
