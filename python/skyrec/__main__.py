"""python -m skyrec FILE...: list the messages of BUFR files."""

from __future__ import annotations

import sys

import _skyrec


def describe(message) -> str:
    m = message
    when = (f"{m.typical_year:04d}-{m.typical_month:02d}-{m.typical_day:02d}T"
            f"{m.typical_hour:02d}:{m.typical_minute:02d}:{m.typical_second:02d}")
    descriptors = " ".join(f"{d:06d}" for d in m.unexpanded_descriptors)
    return (f"length={m.total_length} centre={m.originating_centre}/{m.originating_subcentre} "
            f"category={m.data_category} subsets={m.number_of_subsets} "
            f"compressed={'yes' if m.compressed_data else 'no'} time={when} "
            f"tables={m.master_tables_version_number}/{m.local_tables_version_number} "
            f"descriptors={descriptors}")


def main(argv: list[str] | None = None) -> int:
    paths = sys.argv[1:] if argv is None else argv
    if not paths:
        print("usage: python -m skyrec FILE...", file=sys.stderr)
        return 2
    status = 0
    for path in paths:
        try:
            messages = _skyrec.parse_all_file(path)
        except (OSError, ValueError) as e:
            print(f"{path}: {e}", file=sys.stderr)
            status = 1
            continue
        for i, message in enumerate(messages):
            print(f"{path} #{i}: {describe(message)}")
    return status


if __name__ == "__main__":
    sys.exit(main())
