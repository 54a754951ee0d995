// The Python class BufrMessage: one framed message's header, read-only.
#include <string>

#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/module_common.hpp"
#include "py_common/module_types.hpp"

namespace skyrec::py {
namespace {

using M = BufrMessage;

template <auto Field>
constexpr PyGetSetDef field(const char* name) {
    return {name, field_getter<M, Field>, nullptr, nullptr, nullptr};
}

PyGetSetDef message_getset[] = {
    field<&M::unexpanded_descriptors>("unexpanded_descriptors"),
    field<&M::total_length>("total_length"),
    field<&M::section1_length>("section1_length"),
    field<&M::section2_length>("section2_length"),
    field<&M::section3_length>("section3_length"),
    field<&M::section4_length>("section4_length"),
    field<&M::section4_data_offset>("section4_data_offset"),
    field<&M::section4_data_length>("section4_data_length"),
    field<&M::originating_centre>("originating_centre"),
    field<&M::originating_subcentre>("originating_subcentre"),
    field<&M::typical_year>("typical_year"),
    field<&M::number_of_subsets>("number_of_subsets"),
    field<&M::local_section_present>("local_section_present"),
    field<&M::observed_data>("observed_data"),
    field<&M::compressed_data>("compressed_data"),
    field<&M::edition>("edition"),
    field<&M::master_table_number>("master_table_number"),
    field<&M::update_sequence_number>("update_sequence_number"),
    field<&M::data_category>("data_category"),
    field<&M::international_data_subcategory>("international_data_subcategory"),
    field<&M::local_data_subcategory>("local_data_subcategory"),
    field<&M::master_tables_version_number>("master_tables_version_number"),
    field<&M::local_tables_version_number>("local_tables_version_number"),
    field<&M::typical_month>("typical_month"),
    field<&M::typical_day>("typical_day"),
    field<&M::typical_hour>("typical_hour"),
    field<&M::typical_minute>("typical_minute"),
    field<&M::typical_second>("typical_second"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* message_repr(PyObject* self) {
    const M& m = unbox<M>(self);
    std::string text = "BufrMessage(edition=" + std::to_string(m.edition) +
                       ", length=" + std::to_string(m.total_length) +
                       ", subsets=" + std::to_string(m.number_of_subsets) + ", descriptors=[";
    for (std::size_t i = 0; i < m.unexpanded_descriptors.size(); ++i) {
        if (i != 0) text += ", ";
        text += std::to_string(m.unexpanded_descriptors[i]);
    }
    text += "])";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace

// Kept for compatibility: the class lives under "builtins", not the module's name.
PyObject* create_bufr_message_type(PyObject* module) {
    return boxed_type<M>(module, "builtins.BufrMessage",
                         {{Py_tp_repr, slot(guard<message_repr>)}, {Py_tp_getset, message_getset}});
}

PyObject* new_bufr_message(BufrMessage&& record) { return box(types.bufr_message, std::move(record)); }

const BufrMessage* bufr_message_arg(PyObject* obj, const char* name) {
    return instance_arg(obj, types.bufr_message, name) ? &unbox<BufrMessage>(obj) : nullptr;
}

}  // namespace skyrec::py
