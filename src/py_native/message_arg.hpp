// The arguments shared by the decoding functions of skyrec._native: a buffer,
// the offset of one message in it, that message's BufrMessage and a TableSet.
#pragma once

#include <optional>

#include "message/message.hpp"
#include "py_common/python.hpp"
#include "py_native/buffer_arg.hpp"
#include "tables/table_set.hpp"

namespace skyrec::py {

struct MessageArgs {
    HeldBuffer buffer;
    ByteView bytes;  // the message's own bytes within the buffer
    const BufrMessage* message;
    const TableSet* tables;
    PyObject* data_obj;  // the arguments themselves, borrowed for the call
    PyObject* tables_obj;

    ByteView section4_data() const noexcept { return message->section4_data(bytes); }
};

// Parses (data, start, message, tables); nullopt with an exception set. The
// message must lie within the buffer at `start`, as framed from it. With
// `threads`, also the keyword threads=1: the threads that may unpack a large
// compressed message's numbers, from 1 to kMostThreads.
std::optional<MessageArgs> message_args(PyObject* args, PyObject* kwargs, const char* format,
                                        unsigned* threads = nullptr);

inline constexpr unsigned kMostThreads = 4096;

// A threads= argument, from 1 to kMostThreads, into *out; `obj` null leaves
// *out as it is. False with an exception set.
bool threads_arg(PyObject* obj, unsigned* out);

}  // namespace skyrec::py
