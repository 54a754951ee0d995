#include "py_native/encode_args.hpp"

#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "py_common/decoded_value_object.hpp"
#include "py_common/pyref.hpp"

namespace skyrec::py {
namespace {

constexpr Py_ssize_t kHeaderFields = 18;

bool field(PyObject* fields, Py_ssize_t i, unsigned long max, unsigned long& out) {
    out = PyLong_AsUnsignedLong(PyTuple_GET_ITEM(fields, i));
    if (out == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    if (out > max) {
        PyErr_Format(PyExc_ValueError, "header field %zd is %lu, above %lu", i, out, max);
        return false;
    }
    return true;
}

bool add_text(PyObject* value, FlatSlots& slots) {
    Ref latin = Ref::steal(PyUnicode_AsLatin1String(value));
    if (!latin) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ValueError, "a text holds characters beyond U+00FF; give bytes to write others");
        return false;
    }
    slots.add_text(std::string_view(PyBytes_AS_STRING(latin.get()), PyBytes_GET_SIZE(latin.get())));
    return true;
}

}  // namespace

bool header_arg(PyObject* fields, MessageHeader& header) {
    if (!PyTuple_Check(fields) || PyTuple_GET_SIZE(fields) != kHeaderFields) {
        PyErr_SetString(PyExc_TypeError, "header must be a tuple of 18 integers");
        return false;
    }
    unsigned long v[kHeaderFields];
    static const unsigned long max[kHeaderFields] = {255, 255,   65535, 65535, 255, 255, 255, 255, 255,
                                                     255, 65535, 255,   255,   255, 255, 255, 1,   1};
    for (Py_ssize_t i = 0; i < kHeaderFields; ++i) {
        if (!field(fields, i, max[i], v[i])) return false;
    }
    BufrMessage& f = header.fields;
    f.edition = static_cast<std::uint8_t>(v[0]);
    f.master_table_number = static_cast<std::uint8_t>(v[1]);
    f.originating_centre = static_cast<std::uint16_t>(v[2]);
    f.originating_subcentre = static_cast<std::uint16_t>(v[3]);
    f.update_sequence_number = static_cast<std::uint8_t>(v[4]);
    f.data_category = static_cast<std::uint8_t>(v[5]);
    f.international_data_subcategory = static_cast<std::uint8_t>(v[6]);
    f.local_data_subcategory = static_cast<std::uint8_t>(v[7]);
    f.master_tables_version_number = static_cast<std::uint8_t>(v[8]);
    f.local_tables_version_number = static_cast<std::uint8_t>(v[9]);
    f.typical_year = static_cast<std::uint16_t>(v[10]);
    f.typical_month = static_cast<std::uint8_t>(v[11]);
    f.typical_day = static_cast<std::uint8_t>(v[12]);
    f.typical_hour = static_cast<std::uint8_t>(v[13]);
    f.typical_minute = static_cast<std::uint8_t>(v[14]);
    f.typical_second = static_cast<std::uint8_t>(v[15]);
    f.observed_data = v[16] != 0;
    f.compressed_data = v[17] != 0;
    return true;
}

bool section2_arg(PyObject* obj, MessageHeader& header) {
    if (obj == Py_True) return true;
    if (obj == Py_None) {
        header.section2.reset();
        return true;
    }
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) != 0) return false;
    const auto* p = static_cast<const std::uint8_t*>(view.buf);
    header.section2.emplace(p, p + view.len);
    PyBuffer_Release(&view);
    return true;
}

bool add_slot(PyObject* value, FlatSlots& slots) {
    if (value == Py_None) {
        slots.add_missing();
        return true;
    }
    if (PyFloat_CheckExact(value) || PyLong_Check(value)) {
        const double d = PyFloat_AsDouble(value);
        if (d == -1.0 && PyErr_Occurred()) return false;
        slots.add_number(d);
        return true;
    }
    if (PyUnicode_Check(value)) return add_text(value, slots);
    if (PyBytes_Check(value) || PyByteArray_Check(value)) {
        Py_buffer view;
        if (PyObject_GetBuffer(value, &view, PyBUF_SIMPLE) != 0) return false;
        slots.add_text(std::string_view(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)));
        PyBuffer_Release(&view);
        return true;
    }
    if (Py_TYPE(value) == types.decoded_value) {
        const ValueFields& v = reinterpret_cast<ValueObject*>(value)->value;
        if (!v.has_raw) {
            const char* text = reinterpret_cast<const char*>(value) + sizeof(ValueObject);
            if (v.has_text) {
                slots.add_text(std::string_view(text, v.text_size));
            } else {
                slots.add_missing();
            }
        } else if (!v.has_value || code_f(v.descriptor) == 2) {
            slots.add_missing();
        } else {
            slots.add_raw(v.raw);
        }
        return true;
    }
    const double d = PyFloat_AsDouble(value);
    if (d == -1.0 && PyErr_Occurred()) {
        PyErr_Format(PyExc_TypeError, "a value must be a number, str, bytes or None, not %.200s",
                     Py_TYPE(value)->tp_name);
        return false;
    }
    slots.add_number(d);
    return true;
}

std::optional<ArraySlots> ArraySlots::of(PyObject* array, PyObject* texts) {
    ArraySlots a;
    if (PyObject_GetBuffer(array, &a.view_, PyBUF_STRIDES | PyBUF_FORMAT) != 0) return std::nullopt;
    a.held_ = true;
    if (a.view_.ndim != 2 || a.view_.itemsize != 8 || a.view_.format == nullptr ||
        std::strcmp(a.view_.format, "d") != 0) {
        PyErr_SetString(PyExc_TypeError, "values must be a 2-D float64 array");
        return std::nullopt;
    }
    a.rows_ = static_cast<std::size_t>(a.view_.shape[0]);
    a.columns_ = static_cast<std::size_t>(a.view_.shape[1]);
    a.text_column_.assign(a.columns_, -1);
    PyObject *key, *column;
    Py_ssize_t pos = 0;
    while (PyDict_Next(texts, &pos, &key, &column)) {
        const Py_ssize_t c = PyLong_AsSsize_t(key);
        if (c < 0 || static_cast<std::size_t>(c) >= a.columns_) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "text column %zd is not a column", c);
            return std::nullopt;
        }
        Ref items = Ref::steal(PySequence_Fast(column, "texts must be sequences"));
        if (!items) return std::nullopt;
        if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items.get())) != a.rows_) {
            PyErr_Format(PyExc_ValueError, "text column %zd has %zd texts for %zu subsets", c,
                         PySequence_Fast_GET_SIZE(items.get()), a.rows_);
            return std::nullopt;
        }
        FlatSlots& held = a.texts_.emplace_back();
        for (std::size_t j = 0; j < a.rows_; ++j) {
            held.start_subset();
            if (!add_slot(PySequence_Fast_GET_ITEM(items.get(), j), held)) return std::nullopt;
        }
        a.text_column_[static_cast<std::size_t>(c)] = static_cast<int>(a.texts_.size() - 1);
    }
    return a;
}

ArraySlots::ArraySlots(ArraySlots&& other) noexcept
    : view_(other.view_),
      held_(std::exchange(other.held_, false)),
      rows_(other.rows_),
      columns_(other.columns_),
      text_column_(std::move(other.text_column_)),
      texts_(std::move(other.texts_)) {}

ArraySlots::~ArraySlots() {
    if (held_) PyBuffer_Release(&view_);
}

Slot ArraySlots::at(std::size_t subset, std::size_t index) const {
    if (const int t = text_column_[index]; t >= 0) return texts_[static_cast<std::size_t>(t)].at(subset, 0);
    const char* p = static_cast<const char*>(view_.buf) + static_cast<Py_ssize_t>(subset) * view_.strides[0] +
                    static_cast<Py_ssize_t>(index) * view_.strides[1];
    double v;
    std::memcpy(&v, p, sizeof v);
    if (std::isnan(v)) return {};
    return {Slot::Kind::Number, 0, v, {}};
}

const double* ArraySlots::numbers(std::size_t index, std::ptrdiff_t& stride) const {
    if (text_column_[index] >= 0 || view_.strides[0] % 8 != 0 || view_.strides[1] % 8 != 0) return nullptr;
    stride = view_.strides[0] / 8;
    return static_cast<const double*>(view_.buf) + static_cast<Py_ssize_t>(index) * (view_.strides[1] / 8);
}

}  // namespace skyrec::py
