#include "launcher/handover.hpp"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace skyrec::launcher {
namespace {

// Given by the build: the interpreter's version, and the interpreter itself.
constexpr const char* kInterpreter = "python" SKYREC_PYTHON_VERSION;
constexpr const char* kBuiltWith = SKYREC_PYTHON_EXECUTABLE;

bool runnable(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

// The folder this program lies in: installed, its interpreter is beside it
// (a venv's or conda's bin, a system prefix's bin).
std::string own_folder(const char* argv0) {
    char resolved[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    std::string path;
    if (n > 0) {
        path.assign(resolved, static_cast<std::size_t>(n));
    } else if (std::strchr(argv0, '/') != nullptr && ::realpath(argv0, resolved) != nullptr) {
        path = resolved;
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string rest = path == nullptr ? "" : path;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        std::string folder = rest.substr(0, colon);
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
        if (folder.empty()) folder = ".";
        if (const std::string candidate = folder + "/" + name; runnable(candidate)) return candidate;
    }
    return {};
}

std::string interpreter(const char* argv0) {
    if (const std::string folder = own_folder(argv0); !folder.empty()) {
        if (const std::string beside = folder + "/" + kInterpreter; runnable(beside)) return beside;
    }
    if (std::string found = on_path(kInterpreter); !found.empty()) return found;
    return runnable(kBuiltWith) ? kBuiltWith : std::string();
}

}  // namespace

void hand_over(int argc, char** argv) {
    const std::string python = interpreter(argv[0]);
    if (python.empty()) {
        std::fprintf(stderr, "skyrec: no %s found (beside this program, on PATH or at %s): run %s -m skyrec\n",
                     kInterpreter, kBuiltWith, kInterpreter);
        std::exit(2);
    }
    std::vector<char*> args{const_cast<char*>(python.c_str()), const_cast<char*>("-m"), const_cast<char*>("skyrec")};
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv(python.c_str(), args.data());
    std::fprintf(stderr, "skyrec: cannot run %s: %s\n", python.c_str(), std::strerror(errno));
    std::exit(2);
}

}  // namespace skyrec::launcher
