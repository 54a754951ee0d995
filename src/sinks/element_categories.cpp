#include "sinks/element_categories.hpp"

namespace skyrec {

const std::string* unit_of(const TableSet& tables, DescriptorCode descriptor, const std::string* name) {
    static const std::string no_unit;
    const ElementDefinition* element = tables.element(descriptor);
    return element != nullptr && &element->name == name ? &element->unit : &no_unit;
}

}  // namespace skyrec
