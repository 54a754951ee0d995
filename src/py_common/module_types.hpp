// The module's classes, created once at import and shared by the code that
// makes their instances. One interpreter per process, so plain globals serve.
#pragma once

#include <vector>

#include "decode/decoded_value.hpp"
#include "message/message.hpp"
#include "py_common/python.hpp"
#include "tables/table_set.hpp"

namespace skyrec::py {

struct ModuleTypes {
    PyTypeObject* bufr_message = nullptr;
    PyTypeObject* decoded_value = nullptr;
    PyTypeObject* descriptor = nullptr;
    PyTypeObject* element_definition = nullptr;
    PyTypeObject* sequence_definition = nullptr;
    PyTypeObject* table_set = nullptr;
};

extern ModuleTypes types;

// Each creates its class (a new reference) or returns nullptr with an error set.
PyObject* create_bufr_message_type(PyObject* module);
PyObject* create_decoded_value_type(PyObject* module);
PyObject* create_descriptor_type(PyObject* module);
PyObject* create_element_definition_type(PyObject* module);
PyObject* create_sequence_definition_type(PyObject* module);
PyObject* create_table_set_type(PyObject* module);

// A new BufrMessage object holding `record`.
PyObject* new_bufr_message(BufrMessage&& record);

// The record held by a BufrMessage argument, borrowed for the call; nullptr
// with TypeError naming the argument for anything else.
const BufrMessage* bufr_message_arg(PyObject* obj, const char* name);

// New objects holding a copy of one table entry, or the table set itself.
PyObject* new_element_definition(const ElementDefinition& element);
PyObject* new_sequence_definition(const SequenceDefinition& sequence);
PyObject* new_table_set(TableSet&& tables);

// The table set held by a TableSet argument, borrowed for the call; nullptr
// with TypeError naming the argument for anything else.
const TableSet* table_set_arg(PyObject* obj, const char* name);
// The same, with what the object keeps for decodes (py_common/held_tables.hpp).
struct HeldTables;
HeldTables* held_tables_arg(PyObject* obj, const char* name);
// A list of new DecodedValue objects, one per value, in order.
PyObject* decoded_value_list(const std::vector<DecodedValue>& values);

// The module functions, each defined beside its own code.
extern PyMethodDef parse_bytes_def;
extern PyMethodDef parse_file_def;
extern PyMethodDef parse_all_bytes_def;
extern PyMethodDef parse_all_file_def;
extern PyMethodDef expand_descriptors_def;
extern PyMethodDef decode_values_def;
extern PyMethodDef decode_values_with_tables_def;
extern PyMethodDef decode_values_with_definitions_def;

}  // namespace skyrec::py
