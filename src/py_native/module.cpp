// skyrec._native: what the skyrec package needs beyond _skyrec. It lives in
// _skyrec's binary (python/skyrec/_native.py loads it from there), so its
// results are _skyrec's own classes, made and freed by the one copy of the code.
#include "base/limits.hpp"
#include "py_common/module_common.hpp"
#include "py_common/pyref.hpp"
#include "py_native/decode_error.hpp"
#include "py_native/functions.hpp"
#include "py_native/message_arg.hpp"
#include "py_native/owned_buffer.hpp"

namespace skyrec::py {
namespace {

// Pointers, not copies: the definitions live in other files, whose
// initialisation order is not known here.
// clang-format off: one per line, so that additions merge cleanly.
PyMethodDef* const kFunctions[] = {
    &next_message_def,
    &copy_files_def,
    &decode_subsets_def,
    &decode_columns_def,
    &table_directories_def,
    &directory_tables_def,
    &resolve_table_dir_def,
    &tables_from_texts_def,
    &tables_from_wmo_csv_def,
    &csv_records_def,
    &message_headers_def,
    &messages_framed_def,
    &decode_block_def,
    &observation_rows_def,
    &release_buffers_def,
    &pooled_bytes_def,
    &definitions_tables_def,
    &dump_records_def,
    &keep_columns_def,
    &decode_wide_def,
    &state_of_def,
    &from_state_def,
    &reencode_def,
    &header_message_def,
    &encode_values_def,
    &encode_array_def,
};
// clang-format on

int exec_module(PyObject* module) {
    // The classes are _skyrec's, created by its import in this same binary.
    Ref skyrec = Ref::steal(PyImport_ImportModule("_skyrec"));
    if (!skyrec) return -1;
    if (!create_owned_buffer_type(module) || !create_kept_columns_type(module) || !create_decode_error(module)) {
        return -1;
    }
    if (!add_functions(module, kFunctions)) return -1;
    // The bound on a message's values, for callers that plan memory by it.
    if (PyModule_AddIntConstant(module, "VALUES_FLOOR", static_cast<long>(kFloor.values)) != 0 ||
        PyModule_AddIntConstant(module, "VALUES_PER_BYTE", static_cast<long>(kPerInputByte.values)) != 0 ||
        PyModule_AddIntConstant(module, "MOST_THREADS", static_cast<long>(kMostThreads)) != 0) {
        return -1;
    }
    return 0;
}

}  // namespace
}  // namespace skyrec::py

PyMODINIT_FUNC PyInit__native() {
    return PyModuleDef_Init(skyrec::py::module_definition<skyrec::py::exec_module>("skyrec._native"));
}
