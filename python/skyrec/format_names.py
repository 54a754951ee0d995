"""The formats that skyrec.formats writes, named apart from the writers so
that the command line lists them without importing NumPy or pandas."""

FORMATS = ("parquet", "arrow", "geojson", "netcdf", "csv")
TEXT_FORMATS = ("csv", "geojson")  # written to a stream too
