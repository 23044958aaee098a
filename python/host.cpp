#include "host.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace voxpy {

namespace {

// voxmol.Error and voxmol.VoxmolWarning, kept for the whole life of the process: the module is never
// unloaded, and a reference released after the interpreter has finalised would touch freed memory.
PyObject* error_type = nullptr;
PyObject* warning_type = nullptr;
unsigned long main_thread_ident = 0;

void translate_exceptions(std::exception_ptr p) {
    try {
        if (p) std::rethrow_exception(p);
    } catch (const FatalError& e) {
        py::object error = py::reinterpret_borrow<py::object>(error_type)(e.what());
        error.attr("where") = e.where;
        error.attr("message") = e.message;
        PyErr_SetObject(error_type, error.ptr());
    } catch (const OsError& e) {
        errno = e.error_number;
        const py::object name = shown_name(e.name);
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.ptr());
    }
}

// Every failure of a call must reach Python as an exception; no message is ever lost in a warning that a
// filter could hide, so the warnings are capped rather than the failure.
constexpr int kMostWarnings = 20;

void warn(const std::string& message) {
    if (PyErr_WarnEx(warning_type, message.c_str(), 1) != 0) throw py::error_already_set();
}

}  // namespace

void install_error_handling(py::module_& m) {
    error_type = PyErr_NewExceptionWithDoc(
        "voxmol.Error",
        "A fatal error of the library: the command line would have printed it and stopped.\n\n"
        "str(error) is '<where>: <message>'; both parts are attributes too.",
        PyExc_RuntimeError, nullptr);
    if (error_type == nullptr) throw py::error_already_set();
    m.add_object("Error", py::reinterpret_borrow<py::object>(error_type));
    warning_type = PyErr_NewExceptionWithDoc(
        "voxmol.VoxmolWarning",
        "A warning of the library (a WARNING: line of the command line): the work went on.",
        PyExc_UserWarning, nullptr);
    if (warning_type == nullptr) throw py::error_already_set();
    m.add_object("VoxmolWarning", py::reinterpret_borrow<py::object>(warning_type));
    py::register_exception_translator(translate_exceptions);
    set_fatal_report(throw_fatal_error);
    main_thread_ident =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

// ---- Messages ---------------------------------------------------------------------------------------

CapturedText::CapturedText() {
    file_ = ::open_memstream(&buffer_, &size_);
    if (file_ == nullptr) throw std::bad_alloc();
}

CapturedText::~CapturedText() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(buffer_);
}

std::string CapturedText::take() {
    if (file_ == nullptr) return {};
    std::fclose(file_);  // settles buffer_ and size_
    file_ = nullptr;
    std::string text(buffer_ != nullptr ? buffer_ : "", size_);
    std::free(buffer_);
    buffer_ = nullptr;
    return text;
}

void deliver_text(const std::string& text, bool forward) {
    if (text.empty()) return;
    if (forward) {
        const py::object out = py::module_::import("sys").attr("stdout");
        if (!out.is_none()) out.attr("write")(latin1(text.data(), text.size()));
    }
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.data() + at, end - at);
        at = end + 1;
    }
    int warned = 0, more = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string message;
        if (lines[i].starts_with("WARNING: ")) {
            message = std::string(lines[i].substr(9));
        } else if (lines[i].starts_with("The line #:")) {
            // The voxmol text reader's report of a value line that is not a number, and the line itself.
            message = std::string(lines[i]);
            while (!message.empty() && message.back() == ' ')
                message.pop_back();
            if (i + 1 < lines.size() && lines[i + 1].starts_with(">>>")) {
                message += ": " + std::string(lines[i + 1].substr(3));
                ++i;
            }
        } else {
            continue;
        }
        if (warned == kMostWarnings) {
            ++more;
            continue;
        }
        ++warned;
        PyObject* text_object =
            PyUnicode_DecodeLatin1(message.data(), static_cast<Py_ssize_t>(message.size()), nullptr);
        if (text_object == nullptr) throw py::error_already_set();
        const py::str decoded = py::reinterpret_steal<py::str>(text_object);
        warn(decoded.cast<std::string>());
    }
    if (more > 0) warn(std::to_string(more) + " more warnings of the same call were not shown");
}

bool in_main_thread() {
    return PyThread_get_thread_ident() == main_thread_ident;
}

void check_python_signals() {
    // Taking the GIL can wait for another thread's switch interval: not more often than this.
    using clock = std::chrono::steady_clock;
    thread_local clock::time_point next{};
    const clock::time_point now = clock::now();
    if (now < next) return;
    next = now + std::chrono::milliseconds(50);
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

py::str latin1(const char* text, std::size_t size) {
    PyObject* s = PyUnicode_DecodeLatin1(text, static_cast<Py_ssize_t>(size), nullptr);
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

// ---- Arguments --------------------------------------------------------------------------------------

namespace {

std::string type_name(const py::handle& v) {
    return py::str(py::type::handle_of(v).attr("__name__")).cast<std::string>();
}

[[noreturn]] void wrong_type(const char* what, const char* wanted, const py::handle& v) {
    throw py::type_error(std::string(what) + " must be " + wanted + ", not " + type_name(v));
}

}  // namespace

std::string file_name(const py::handle& path, const char* what) {
    if (!py::isinstance<py::str>(path) && !py::isinstance<py::bytes>(path) &&
        !py::hasattr(path, "__fspath__"))
        wrong_type(what, "a str, bytes or os.PathLike path", path);
    PyObject* fs = PyOS_FSPath(path.ptr());
    if (fs == nullptr) throw py::error_already_set();
    const py::object fspath = py::reinterpret_steal<py::object>(fs);
    const py::object encoded = py::module_::import("os").attr("fsencode")(fspath);
    std::string name(encoded.cast<py::bytes>());
    if (name.find('\0') != std::string::npos)
        throw py::value_error(std::string(what) + " holds a NUL byte: " + py::repr(path).cast<std::string>());
    if (name.empty()) throw py::value_error(std::string(what) + " is empty");
    return name;
}

py::object shown_name(const std::string& name) {
    return py::module_::import("os").attr("fsdecode")(py::bytes(name));
}

long long as_int(const py::handle& v, const char* what) {
    if (PyBool_Check(v.ptr()) || !PyIndex_Check(v.ptr())) wrong_type(what, "an integer", v);
    int overflow = 0;
    const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(v.ptr()));
    if (!index) throw py::error_already_set();
    const long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) throw py::value_error(std::string(what) + " is out of range");
    return n;
}

int as_int32(const py::handle& v, const char* what) {
    const long long n = as_int(v, what);
    if (n < INT32_MIN || n > INT32_MAX) throw py::value_error(std::string(what) + " is out of range");
    return static_cast<int>(n);
}

double as_double(const py::handle& v, const char* what, bool finite) {
    const bool number = PyFloat_Check(v.ptr()) || PyLong_Check(v.ptr()) || PyIndex_Check(v.ptr()) ||
                        py::hasattr(v, "__float__");
    if (PyBool_Check(v.ptr()) || !number || py::isinstance<py::str>(v) || py::isinstance<py::bytes>(v))
        wrong_type(what, "a real number", v);
    const double d = PyFloat_AsDouble(v.ptr());
    if (d == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        wrong_type(what, "a real number", v);
    }
    if (std::isnan(d)) throw py::value_error(std::string(what) + " is NaN");
    if (finite && !std::isfinite(d)) throw py::value_error(std::string(what) + " must be finite");
    return d;
}

bool as_bool(const py::handle& v, const char* what) {
    if (PyBool_Check(v.ptr())) return v.ptr() == Py_True;
    if (py::isinstance(v, py::module_::import("numpy").attr("bool_"))) return v.cast<bool>();
    wrong_type(what, "True or False", v);
}

std::string as_str(const py::handle& v, const char* what) {
    if (!py::isinstance<py::str>(v)) wrong_type(what, "a str", v);
    return v.cast<std::string>();
}

namespace {

py::array_t<double, py::array::c_style> as_float_array(const py::handle& v, const char* what) {
    if (py::isinstance<py::str>(v) || py::isinstance<py::bytes>(v))
        wrong_type(what, "an array of numbers", v);
    py::object a;
    try {
        a = py::module_::import("numpy").attr("asarray")(v);
    } catch (const py::error_already_set&) {
        wrong_type(what, "an array of numbers", v);
    }
    const char kind = a.cast<py::array>().dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u') {
        throw py::type_error(std::string(what) + " must hold real numbers, not " +
                             py::str(a.attr("dtype")).cast<std::string>());
    }
    return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
}

}  // namespace

std::array<double, 3> as_vector3(const py::handle& v, const char* what) {
    const auto a = as_float_array(v, what);
    if (a.ndim() != 1 || a.shape(0) != 3) throw py::value_error(std::string(what) + " must be 3 numbers");
    std::array<double, 3> out{};
    for (int d = 0; d < 3; ++d) {
        out[d] = a.at(d);
        if (!std::isfinite(out[d])) throw py::value_error(std::string(what) + " must be finite");
    }
    return out;
}

py::array_t<double, py::array::c_style> as_points(const py::handle& v, const char* what, bool& single) {
    auto a = as_float_array(v, what);
    single = a.ndim() == 1;
    if (single && a.shape(0) == 3) return a.reshape({py::ssize_t{1}, py::ssize_t{3}});
    if (a.ndim() != 2 || a.shape(1) != 3)
        throw py::value_error(std::string(what) + " must be an array of shape (N, 3) or (3,), not " +
                              py::str(a.attr("shape")).cast<std::string>());
    return a;
}

std::pair<double, double> as_window(const py::handle& v, const char* what) {
    if (py::isinstance<py::str>(v) || !py::isinstance<py::sequence>(v) || py::len(v) != 2) {
        if (!py::isinstance<py::sequence>(v) || py::isinstance<py::str>(v))
            wrong_type(what, "a pair (min, max) of numbers", v);
        throw py::value_error(std::string(what) + " must be a pair (min, max)");
    }
    const py::sequence s = py::reinterpret_borrow<py::sequence>(v);
    return {as_double(s[0], what), as_double(s[1], what)};
}

// ---- Files ------------------------------------------------------------------------------------------

void raise_os_error(int error_number, const std::string& name) {
    throw OsError{error_number, name};
}

void check_readable(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) raise_os_error(errno, name);
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (folder) raise_os_error(EISDIR, name);
}

Output::Output(const py::handle& target) {
    if (!py::hasattr(target, "write")) {
        name_ = file_name(target);
        if (!named_.open(name_)) raise_os_error(errno, name_);
        file_ = named_.stream();
        return;
    }
    python_ = true;
    target_ = py::reinterpret_borrow<py::object>(target);
    write_ = target_.attr("write");
    text_ = py::isinstance(target_, py::module_::import("io").attr("TextIOBase"));
    name_ = py::repr(target_);
    const cookie_io_functions_t functions{nullptr, write_cookie, nullptr, nullptr};
    file_ = ::fopencookie(this, "w", functions);
    if (file_ == nullptr) throw std::bad_alloc();
    // Large buffers: each one written takes the GIL once.
    std::setvbuf(file_, nullptr, _IOFBF, std::size_t{1} << 20);
}

Output::~Output() {
    // A named file not committed is dropped by named_; an object's stream is closed here.
    if (file_ != nullptr && python_) {
        // Unfinished: what is still buffered is dropped, not handed to the object.
        __fpurge(file_);
        failure_ = nullptr;
        std::fclose(file_);
    }
}

ssize_t Output::write_cookie(void* cookie, const char* buffer, std::size_t size) {
    auto* self = static_cast<Output*>(cookie);
    // Called from within the C library's stdio, through which no exception may pass: a Python error is
    // kept for close() and the stream is told the write failed.
    if (self->failure_) return -1;
    try {
        py::gil_scoped_acquire gil;
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
        if (took == 0) throw OsError{EIO, name_};
        done += took;
    }
    return static_cast<ssize_t>(size);
}

void Output::close() {
    std::FILE* f = file_;
    file_ = nullptr;
    if (!python_) {
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
