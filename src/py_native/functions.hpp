// The functions of skyrec._native, each defined beside its own code.
#pragma once

#include "py_common/python.hpp"

namespace skyrec::py {

extern PyMethodDef next_message_def;
extern PyMethodDef copy_files_def;
extern PyMethodDef decode_subsets_def;
extern PyMethodDef decode_columns_def;
extern PyMethodDef table_directories_def;
extern PyMethodDef definitions_tables_def;
extern PyMethodDef directory_tables_def;
extern PyMethodDef resolve_table_dir_def;
extern PyMethodDef tables_from_texts_def;
extern PyMethodDef tables_from_wmo_csv_def;
extern PyMethodDef csv_records_def;
extern PyMethodDef message_headers_def;
extern PyMethodDef messages_framed_def;
extern PyMethodDef decode_block_def;
extern PyMethodDef observation_rows_def;
extern PyMethodDef release_buffers_def;
extern PyMethodDef pooled_bytes_def;
extern PyMethodDef dump_records_def;
extern PyMethodDef keep_columns_def;
extern PyMethodDef decode_wide_def;
extern PyMethodDef state_of_def;
extern PyMethodDef from_state_def;
extern PyMethodDef reencode_def;
extern PyMethodDef header_message_def;
extern PyMethodDef encode_values_def;
extern PyMethodDef encode_array_def;

// Creates the class skyrec._native.KeptColumns (what keep_columns gives) and
// adds it to `module`, at import; false with an error set.
bool create_kept_columns_type(PyObject* module);

}  // namespace skyrec::py
