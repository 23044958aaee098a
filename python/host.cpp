#include "host.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pdb8.h"

namespace voxpy {

namespace {

// voxmol.Error, kept for the whole life of the process: the module is never unloaded, and a reference
// released after the interpreter has finalised would touch freed memory.
PyObject* error_type = nullptr;

[[noreturn]] void throw_fatal(std::string_view where, std::string_view message) {
    throw FatalError(where, message);
}

void translate_fatal(std::exception_ptr p) {
    try {
        if (p) std::rethrow_exception(p);
    } catch (const FatalError& e) {
        py::object error = py::reinterpret_borrow<py::object>(error_type)(e.what());
        error.attr("where") = e.where;
        error.attr("message") = e.message;
        PyErr_SetObject(error_type, error.ptr());
    }
}

}  // namespace

FatalError::FatalError(std::string_view where_, std::string_view message_)
    : std::runtime_error(std::string(where_) + ": " + std::string(message_)),
      where(where_),
      message(message_) {}

void install_error_handling(py::module_& m) {
    error_type = PyErr_NewExceptionWithDoc(
        "voxmol.Error",
        "A fatal error of the library: the command line would have printed it and stopped.\n\n"
        "str(error) is '<where>: <message>'; both parts are attributes too.",
        PyExc_RuntimeError, nullptr);
    if (error_type == nullptr) throw py::error_already_set();
    m.add_object("Error", py::reinterpret_borrow<py::object>(error_type));
    py::register_exception_translator(translate_fatal);
    set_fatal_report(throw_fatal);
}

// ---- Standard output ------------------------------------------------------------------------------

CapturedStdout::CapturedStdout() {
    capture_ = ::memfd_create("voxmol-stdout", MFD_CLOEXEC);
    if (capture_ < 0)
        throw std::runtime_error(std::string("cannot capture standard output: ") + std::strerror(errno));
    std::fflush(stdout);
    saved_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (::dup2(capture_, STDOUT_FILENO) < 0) {
        const int e = errno;
        if (saved_ >= 0) ::close(saved_);
        ::close(capture_);
        throw std::runtime_error(std::string("cannot capture standard output: ") + std::strerror(e));
    }
}

CapturedStdout::~CapturedStdout() {
    if (capture_ < 0) return;
    std::fflush(stdout);
    restore();
    ::close(capture_);
}

void CapturedStdout::restore() {
    if (saved_ >= 0) {
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    } else {
        ::close(STDOUT_FILENO);  // it was closed before
    }
}

std::string CapturedStdout::finish() {
    if (capture_ < 0) return {};
    std::fflush(stdout);
    restore();
    std::string text;
    const off_t size = ::lseek(capture_, 0, SEEK_END);
    if (size > 0) {
        text.resize(static_cast<std::size_t>(size));
        std::size_t got = 0;
        while (got < text.size()) {
            const ssize_t n =
                ::pread(capture_, text.data() + got, text.size() - got, static_cast<off_t>(got));
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
    }
    ::close(capture_);
    capture_ = -1;
    return text;
}

py::str latin1(const char* text, std::size_t size) {
    PyObject* s = PyUnicode_DecodeLatin1(text, static_cast<Py_ssize_t>(size), nullptr);
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

void write_to_sys_stdout(const std::string& text) {
    if (text.empty()) return;
    const py::object out = py::module_::import("sys").attr("stdout");
    if (out.is_none()) return;
    out.attr("write")(latin1(text.data(), text.size()));
}

// ---- Files ------------------------------------------------------------------------------------------

std::string file_name(const py::handle& path) {
    const py::object encoded = py::module_::import("os").attr("fsencode")(path);
    return std::string(encoded.cast<py::bytes>());
}

void raise_os_error(int error_number, const std::string& name) {
    errno = error_number;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
    throw py::error_already_set();
}

Output::Output(const py::handle& target) : target_(py::none()) {
    if (!py::hasattr(target, "write")) {
        name_ = file_name(target);
        if (!named_.open(name_)) raise_os_error(errno, name_);
        file_ = named_.stream();
        return;
    }
    target_ = py::reinterpret_borrow<py::object>(target);
    write_ = target_.attr("write");
    text_ = py::isinstance(target_, py::module_::import("io").attr("TextIOBase"));
    name_ = py::repr(target_);
    const cookie_io_functions_t functions{nullptr, write_cookie, nullptr, nullptr};
    file_ = ::fopencookie(this, "w", functions);
    if (file_ == nullptr) throw std::runtime_error("cannot make a stream for " + name_);
}

Output::~Output() {
    // A named file not committed is dropped by named_; an object's stream is closed here.
    if (file_ != nullptr && target_.is_none()) return;
    if (file_ != nullptr) std::fclose(file_);
}

ssize_t Output::write_cookie(void* cookie, const char* buffer, std::size_t size) {
    auto* self = static_cast<Output*>(cookie);
    // Called from within the C library's stdio, through which no exception may pass: a Python error is
    // kept for close() and the stream is told the write failed.
    if (self->failure_) return -1;
    try {
        return self->write_to_target(buffer, size);
    } catch (...) {
        self->failure_ = std::current_exception();
        return -1;
    }
}

ssize_t Output::write_to_target(const char* buffer, std::size_t size) {
    if (text_) {
        write_(latin1(buffer, size));
        return static_cast<ssize_t>(size);
    }
    // A raw binary file may take fewer bytes than offered; the rest is offered again.
    std::size_t done = 0;
    while (done < size) {
        const py::object n = write_(py::bytes(buffer + done, size - done));
        const std::size_t took = n.is_none() ? size - done : n.cast<std::size_t>();
        if (took == 0) throw std::runtime_error(name_ + " took no bytes");
        done += took;
    }
    return static_cast<ssize_t>(size);
}

void Output::close() {
    std::FILE* f = file_;
    file_ = nullptr;
    if (target_.is_none()) {
        if (!named_.commit()) raise_os_error(errno, name_);
        return;
    }
    const bool failed = std::ferror(f) != 0;
    const int close_status = std::fclose(f);
    const int close_errno = errno;
    if (failure_) std::rethrow_exception(failure_);
    if (failed || close_status != 0) raise_os_error(close_status != 0 ? close_errno : EIO, name_);
}

}  // namespace voxpy
