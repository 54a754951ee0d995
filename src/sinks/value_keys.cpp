#include "sinks/value_keys.hpp"

#include "decode/decoded_value.hpp"

namespace skyrec {
namespace {

const std::string& fixed(int which) {
    static const std::string keys[] = {"", "operator", "text", "associatedField"};
    return keys[which];
}

}  // namespace

ValueKey key_of(const TableSet& tables, DescriptorCode descriptor, const std::string* name) {
    if (name == &operator_name()) return {&fixed(1), false};
    if (name == &inserted_text_name()) return {&fixed(2), false};
    if (name == &associated_field_name()) return {&fixed(3), false};
    const ElementDefinition* element = tables.element(descriptor);
    if (element == nullptr || &element->name != name || element->abbreviation.empty()) return {&fixed(0), false};
    return {&element->abbreviation, true};
}

}  // namespace skyrec
