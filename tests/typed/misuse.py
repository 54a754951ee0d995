"""Mistakes that the stubs make mypy catch: each line marked with the error
code it must be reported with, and no other line reported."""

import _skyrec
import skyrec

_skyrec.parse_bytes("not bytes")  # E: arg-type
skyrec.parse_file(b"not a str path")  # E: arg-type
message = skyrec.parse_file("x.bufr")
message.total_length = 3  # E: misc
name: int = skyrec.decode_values(b"", "tables")[0].name  # E: assignment
skyrec.TableSet.from_eccodes("tables").expand("301011")  # E: arg-type
skyrec.read_messages("x.bufr", output="rows")  # E: arg-type
skyrec.read_messages("x.bufr", table_directory="tables")  # E: call-arg
skyrec._native.decode_subsets(b"", 0, message, "tables")  # E: arg-type
skyrec.Descriptor.from_fxy(301011).fxy.upper()  # E: attr-defined
