// state_of(obj) and from_state(kind, state): _skyrec's BufrMessage,
// DecodedValue, TableSet, ElementDefinition and SequenceDefinition as
// (kind, tuple of plain values) and back, so that the package can register
// them with copyreg and its results cross process boundaries. A state is
// checked as it is read back: a wrong one is a ValueError, never a record
// that points past its bytes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/decoded_value_object.hpp"
#include "py_common/held_tables.hpp"
#include "py_common/module_types.hpp"
#include "py_common/pyref.hpp"
#include "py_native/functions.hpp"

namespace skyrec::py {
namespace {

PyObject* message_state(const BufrMessage& m) {
    Ref descriptors = Ref::steal(to_py(m.unexpanded_descriptors));
    if (!descriptors) return nullptr;
    return Py_BuildValue(
        "(OKKKKKKKIIIIiiiIIIIIIIIIIIII)", descriptors.get(), m.total_length, m.section1_length, m.section2_length,
        m.section3_length, m.section4_length, m.section4_data_offset, m.section4_data_length,
        unsigned{m.originating_centre}, unsigned{m.originating_subcentre}, unsigned{m.typical_year},
        unsigned{m.number_of_subsets}, int{m.local_section_present}, int{m.observed_data}, int{m.compressed_data},
        unsigned{m.edition}, unsigned{m.master_table_number}, unsigned{m.update_sequence_number},
        unsigned{m.data_category}, unsigned{m.international_data_subcategory}, unsigned{m.local_data_subcategory},
        unsigned{m.master_tables_version_number}, unsigned{m.local_tables_version_number}, unsigned{m.typical_month},
        unsigned{m.typical_day}, unsigned{m.typical_hour}, unsigned{m.typical_minute}, unsigned{m.typical_second});
}

bool codes_from(PyObject* list, std::vector<DescriptorCode>& out) {
    Ref items = Ref::steal(PySequence_Fast(list, "a state's descriptors must be a list"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        std::uint64_t code = 0;
        if (!uint_arg(PySequence_Fast_GET_ITEM(items.get(), i), "descriptors", 399999, &code)) return false;
        out.push_back(static_cast<DescriptorCode>(code));
    }
    return true;
}

PyObject* message_from(PyObject* state) {
    BufrMessage m;
    PyObject* descriptors = nullptr;
    unsigned centre, subcentre, year, subsets, edition, table, update, category, subcategory, local_subcategory,
        master_version, local_version, month, day, hour, minute, second;
    int local_section, observed, compressed;
    if (!PyArg_ParseTuple(state, "OKKKKKKKIIIIpppIIIIIIIIIIIII:from_state", &descriptors, &m.total_length,
                          &m.section1_length, &m.section2_length, &m.section3_length, &m.section4_length,
                          &m.section4_data_offset, &m.section4_data_length, &centre, &subcentre, &year, &subsets,
                          &local_section, &observed, &compressed, &edition, &table, &update, &category, &subcategory,
                          &local_subcategory, &master_version, &local_version, &month, &day, &hour, &minute, &second) ||
        !codes_from(descriptors, m.unexpanded_descriptors)) {
        return nullptr;
    }
    // The section 4 data must lie within the message, as framing leaves it.
    if (m.section4_data_offset > m.total_length || m.section4_data_length > m.total_length - m.section4_data_offset) {
        PyErr_SetString(PyExc_ValueError, "a BufrMessage state whose section 4 lies outside the message");
        return nullptr;
    }
    m.originating_centre = static_cast<std::uint16_t>(centre);
    m.originating_subcentre = static_cast<std::uint16_t>(subcentre);
    m.typical_year = static_cast<std::uint16_t>(year);
    m.number_of_subsets = static_cast<std::uint16_t>(subsets);
    m.local_section_present = local_section != 0;
    m.observed_data = observed != 0;
    m.compressed_data = compressed != 0;
    const auto octet = [](unsigned v) { return static_cast<std::uint8_t>(v); };
    m.edition = octet(edition), m.master_table_number = octet(table), m.update_sequence_number = octet(update);
    m.data_category = octet(category), m.international_data_subcategory = octet(subcategory);
    m.local_data_subcategory = octet(local_subcategory), m.master_tables_version_number = octet(master_version);
    m.local_tables_version_number = octet(local_version), m.typical_month = octet(month), m.typical_day = octet(day);
    m.typical_hour = octet(hour), m.typical_minute = octet(minute), m.typical_second = octet(second);
    return new_bufr_message(std::move(m));
}

PyObject* value_state(PyObject* obj) {
    const ValueFields& v = reinterpret_cast<ValueObject*>(obj)->value;
    const char* text = reinterpret_cast<const char*>(obj) + sizeof(ValueObject);
    Ref text_obj = v.has_text ? Ref::steal(PyBytes_FromStringAndSize(text, v.text_size)) : Ref::borrow(Py_None);
    if (!text_obj) return nullptr;
    return Py_BuildValue("(dKOOIiiiO)", v.value, static_cast<unsigned long long>(v.raw), v.name,
                         v.meaning != nullptr ? v.meaning : Py_None, static_cast<unsigned>(v.descriptor),
                         int{v.has_value}, int{v.has_raw}, int{v.has_text}, text_obj.get());
}

PyObject* value_from(PyObject* state) {
    ValueView v;
    unsigned long long raw = 0;
    unsigned descriptor = 0;
    int has_value, has_raw, has_text;
    PyObject *name, *meaning, *text;
    if (!PyArg_ParseTuple(state, "dKUOIpppO:from_state", &v.value, &raw, &name, &meaning, &descriptor, &has_value,
                          &has_raw, &has_text, &text)) {
        return nullptr;
    }
    if ((meaning != Py_None && !PyUnicode_Check(meaning)) || (has_text != 0) != PyBytes_Check(text)) {
        PyErr_SetString(PyExc_ValueError, "a DecodedValue state needs a str or None meaning and bytes for a text");
        return nullptr;
    }
    v.raw = raw;
    v.descriptor = static_cast<DescriptorCode>(descriptor);
    v.has_value = has_value != 0, v.has_raw = has_raw != 0, v.has_text = has_text != 0;
    if (v.has_text)
        v.text = std::string_view(PyBytes_AS_STRING(text), static_cast<std::size_t>(PyBytes_GET_SIZE(text)));
    return new_decoded_value(v, name, meaning == Py_None ? nullptr : meaning);
}

PyObject* element_state(const ElementDefinition& e) {
    return Py_BuildValue("(Is#s#s#s#iLI)", static_cast<unsigned>(e.code), e.abbreviation.data(),
                         static_cast<Py_ssize_t>(e.abbreviation.size()), e.element_type.data(),
                         static_cast<Py_ssize_t>(e.element_type.size()), e.name.data(),
                         static_cast<Py_ssize_t>(e.name.size()), e.unit.data(), static_cast<Py_ssize_t>(e.unit.size()),
                         e.scale, static_cast<long long>(e.reference), unsigned{e.width});
}

std::optional<ElementDefinition> element_from(PyObject* state) {
    ElementDefinition e;
    unsigned code = 0, width = 0;
    const char *abbreviation, *type, *name, *unit;
    Py_ssize_t abbreviation_size, type_size, name_size, unit_size;
    long long reference = 0;
    if (!PyArg_ParseTuple(state, "Is#s#s#s#iLI:from_state", &code, &abbreviation, &abbreviation_size, &type, &type_size,
                          &name, &name_size, &unit, &unit_size, &e.scale, &reference, &width)) {
        return std::nullopt;
    }
    e.code = static_cast<DescriptorCode>(code);
    e.abbreviation.assign(abbreviation, static_cast<std::size_t>(abbreviation_size));
    e.element_type.assign(type, static_cast<std::size_t>(type_size));
    e.name.assign(name, static_cast<std::size_t>(name_size));
    e.unit.assign(unit, static_cast<std::size_t>(unit_size));
    e.reference = reference;
    e.width = static_cast<std::uint16_t>(width);
    return e;
}

PyObject* sequence_state(const SequenceDefinition& s) {
    Ref members = Ref::steal(to_py(s.members));
    if (!members) return nullptr;
    return Py_BuildValue("(IO)", static_cast<unsigned>(s.code), members.get());
}

std::optional<SequenceDefinition> sequence_from(PyObject* state) {
    SequenceDefinition s;
    unsigned code = 0;
    PyObject* members = nullptr;
    if (!PyArg_ParseTuple(state, "IO:from_state", &code, &members) || !codes_from(members, s.members)) {
        return std::nullopt;
    }
    s.code = static_cast<DescriptorCode>(code);
    return s;
}

template <class Map, class State>
PyObject* entries(const Map& map, State&& state) {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const auto& [code, entry] : map) {
        Ref item = Ref::steal(state(code, entry));
        if (!item || PyList_Append(list.get(), item.get()) != 0) return nullptr;
    }
    return list.release();
}

PyObject* code_table_state(DescriptorCode code, const CodeTable& table) {
    Ref meanings = Ref::steal(entries(table, [](std::uint64_t raw, const std::string& text) {
        return Py_BuildValue("(Ks#)", static_cast<unsigned long long>(raw), text.data(),
                             static_cast<Py_ssize_t>(text.size()));
    }));
    if (!meanings) return nullptr;
    return Py_BuildValue("(IO)", static_cast<unsigned>(code), meanings.get());
}

PyObject* tables_state(const TableSet& t) {
    Ref elements = Ref::steal(entries(t.elements(), [](DescriptorCode, const auto& e) { return element_state(e); }));
    Ref sequences = Ref::steal(entries(t.sequences(), [](DescriptorCode, const auto& s) { return sequence_state(s); }));
    Ref codes = Ref::steal(entries(t.code_tables(), code_table_state));
    if (!elements || !sequences || !codes) return nullptr;
    return PyTuple_Pack(3, elements.get(), sequences.get(), codes.get());
}

// Calls add(item) for each item of `list`; false with an exception set.
template <class Add>
bool each_item(PyObject* list, Add&& add) {
    Ref items = Ref::steal(PySequence_Fast(list, "a TableSet state holds lists"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        if (!add(PySequence_Fast_GET_ITEM(items.get(), i))) return false;
    }
    return true;
}

PyObject* tables_from(PyObject* state) {
    PyObject *elements, *sequences, *codes;
    if (!PyArg_ParseTuple(state, "OOO:from_state", &elements, &sequences, &codes)) return nullptr;
    TableSet t;
    const auto add_element = [&](PyObject* item) {
        auto e = element_from(item);
        if (e) t.insert_element(std::move(*e));
        return e.has_value();
    };
    const auto add_sequence = [&](PyObject* item) {
        auto s = sequence_from(item);
        if (s) t.insert_sequence(std::move(*s));
        return s.has_value();
    };
    const auto add_code_table = [&](PyObject* item) {
        unsigned code = 0;
        PyObject* meanings = nullptr;
        if (!PyArg_ParseTuple(item, "IO:from_state", &code, &meanings)) return false;
        CodeTable table;
        const bool read = each_item(meanings, [&](PyObject* entry) {
            unsigned long long raw = 0;
            const char* text = nullptr;
            Py_ssize_t size = 0;
            if (!PyArg_ParseTuple(entry, "Ks#:from_state", &raw, &text, &size)) return false;
            table.insert_or_assign(raw, std::string(text, static_cast<std::size_t>(size)));
            return true;
        });
        if (read) t.insert_code_table(static_cast<DescriptorCode>(code), std::move(table));
        return read;
    };
    if (!each_item(elements, add_element) || !each_item(sequences, add_sequence) || !each_item(codes, add_code_table)) {
        return nullptr;
    }
    return new_table_set(std::move(t));
}

PyObject* state_of(PyObject*, PyObject* obj) {
    const auto pair = [](const char* kind, PyObject* state) -> PyObject* {
        if (state == nullptr) return nullptr;
        Ref held = Ref::steal(state);
        return Py_BuildValue("(sO)", kind, state);
    };
    PyTypeObject* type = Py_TYPE(obj);
    if (type == types.bufr_message) return pair("message", message_state(unbox<BufrMessage>(obj)));
    if (type == types.decoded_value) return pair("value", value_state(obj));
    if (type == types.table_set) return pair("tables", tables_state(unbox<HeldTables>(obj).tables));
    if (type == types.element_definition) return pair("element", element_state(unbox<ElementDefinition>(obj)));
    if (type == types.sequence_definition) return pair("sequence", sequence_state(unbox<SequenceDefinition>(obj)));
    PyErr_Format(PyExc_TypeError, "no state for %.200s objects", type->tp_name);
    return nullptr;
}

PyObject* from_state(PyObject*, PyObject* args) {
    const char* kind = nullptr;
    PyObject* state = nullptr;
    if (!PyArg_ParseTuple(args, "sO!:from_state", &kind, &PyTuple_Type, &state)) return nullptr;
    const std::string_view k(kind);
    if (k == "message") return message_from(state);
    if (k == "value") return value_from(state);
    if (k == "tables") return tables_from(state);
    if (k == "element") {
        auto e = element_from(state);
        return e ? new_element_definition(*e) : nullptr;
    }
    if (k == "sequence") {
        auto s = sequence_from(state);
        return s ? new_sequence_definition(*s) : nullptr;
    }
    PyErr_Format(PyExc_ValueError, "no objects of kind %R", PyTuple_GET_ITEM(args, 0));
    return nullptr;
}

}  // namespace

PyMethodDef state_of_def = {"state_of", state_of, METH_O, "state_of(obj, /)\n--\n\n"};
PyMethodDef from_state_def = {"from_state", from_state, METH_VARARGS, "from_state(kind, state, /)\n--\n\n"};

}  // namespace skyrec::py
