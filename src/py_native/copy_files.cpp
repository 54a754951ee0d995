// copy_files(paths, conditions, output): the command line's copy when its
// --where conditions and -o name are of header keys alone, run by the core
// (tools/copy_messages) while other threads run. None when they are not
// (the Python command's work then); else (read, written, skipped, failed,
// files, failure lines, output failure or None).
#include "py_common/args.hpp"
#include "py_common/boxed.hpp"
#include "py_common/errors.hpp"
#include "py_common/pyref.hpp"
#include "py_common/unlocked.hpp"
#include "py_native/buffer_arg.hpp"
#include "py_native/functions.hpp"
#include "tools/copy_messages.hpp"

namespace skyrec::py {
namespace {

// The file system's bytes of a str (os.fsencode), or false with an error set.
bool fs_bytes(PyObject* text, std::string* out) {
    Ref bytes = Ref::steal(PyUnicode_EncodeFSDefault(text));
    if (!bytes) return false;
    out->assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    return true;
}

bool strings(PyObject* sequence, const char* what, std::vector<std::string>* out) {
    Ref items = Ref::steal(PySequence_Fast(sequence, what));
    if (!items) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "%s must hold str", what);
            return false;
        }
        out->emplace_back();
        if (!fs_bytes(item, &out->back())) return false;
    }
    return true;
}

PyObject* fs_str(const std::string& text) {
    return PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* copy_files(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"paths", "conditions", "output", nullptr};
    PyObject *paths_obj, *conditions_obj, *output_obj;
    if (!parse_args(args, kwargs, "OOU:copy_files", names, &paths_obj, &conditions_obj, &output_obj)) return nullptr;
    std::vector<std::string> paths, conditions;
    std::string output;
    if (!strings(paths_obj, "paths", &paths) || !strings(conditions_obj, "conditions", &conditions) ||
        !fs_bytes(output_obj, &output)) {
        return nullptr;
    }
    for (const std::string& path : paths) {
        if (path.find('\0') != std::string::npos) Py_RETURN_NONE;  // open() says what of it
    }
    const std::vector<std::string_view> texts(conditions.begin(), conditions.end());
    const auto plan = CopyPlan::of(texts, output);
    if (!plan) Py_RETURN_NONE;
    std::vector<std::string> lines;
    // Ctrl-C stops the copy, leaving no output, and raises KeyboardInterrupt.
    const auto done =
        unlocked([&] { return copy_messages(*plan, paths, [&](const std::string& line) { lines.push_back(line); }); });
    if (!done) return nullptr;
    const CopyOutcome& outcome = *done;
    Ref reported = Ref::steal(list_of(lines, fs_str));
    Ref failure = outcome.output ? Ref::steal(fs_str(outcome.output->text)) : Ref::borrow(Py_None);
    if (!reported || !failure) return nullptr;
    const CopyCounts& c = outcome.counts;
    return Py_BuildValue("(nnnnnOO)", static_cast<Py_ssize_t>(c.read), static_cast<Py_ssize_t>(c.written),
                         static_cast<Py_ssize_t>(c.skipped), static_cast<Py_ssize_t>(c.failed),
                         static_cast<Py_ssize_t>(c.files), reported.get(), failure.get());
}

}  // namespace

PyMethodDef copy_files_def = {"copy_files", kw_method(guard<copy_files>), METH_VARARGS | METH_KEYWORDS,
                              "copy_files(paths, conditions, output)\n--\n\n"};

}  // namespace skyrec::py
