// The module's classes, created once at import and shared by the code that
// makes their instances. One interpreter per process, so plain globals serve.
#pragma once

#include "lib/python.hpp"
#include "message/message.hpp"

namespace skyrec::py {

struct ModuleTypes {
    PyTypeObject* bufr_message = nullptr;
    PyTypeObject* descriptor = nullptr;
};

extern ModuleTypes types;

// Each creates its class (a new reference) or returns nullptr with an error set.
PyObject* create_bufr_message_type(PyObject* module);
PyObject* create_descriptor_type(PyObject* module);

// A new BufrMessage object holding `record`.
PyObject* new_bufr_message(BufrMessage&& record);

// The module functions, each defined beside its own code.
extern PyMethodDef parse_bytes_def;
extern PyMethodDef parse_file_def;
extern PyMethodDef parse_all_bytes_def;
extern PyMethodDef parse_all_file_def;

}  // namespace skyrec::py
