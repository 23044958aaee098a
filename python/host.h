// What the bindings share: the library's fatal errors and warnings as Python exceptions and warnings,
// the library's messages kept apart for each call, the GIL released while the C++ works (with Ctrl-C
// noticed between blocks of work), arguments converted with errors that name them, file names, and
// output streams that end in a file or in a Python file object.
#ifndef VOXMOL_PYTHON_HOST_H
#define VOXMOL_PYTHON_HOST_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "common/fatal.h"
#include "common/interrupt.h"
#include "common/text_out.h"
#include "dx/write/output_file.h"

namespace voxpy {

namespace py = pybind11;

// Registers voxmol.Error and voxmol.VoxmolWarning in `m` and makes every later fatal error of the library
// throw FatalError (common/fatal.h), raised in Python as voxmol.Error.
void install_error_handling(py::module_& m);

// The library's messages of one call: from construction on, what the library prints in this thread goes
// to a stream in memory instead of standard output; take() ends the capture and returns the text.
class CapturedText {
  public:
    CapturedText();
    ~CapturedText();
    CapturedText(const CapturedText&) = delete;
    CapturedText& operator=(const CapturedText&) = delete;
    std::FILE* stream() const { return file_; }
    std::string take();

  private:
    std::FILE* file_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
};

// Hands the text the library printed to Python (the GIL held): to sys.stdout when `forward`, and each
// "WARNING:" line (and each value line the voxmol text reader reports) to warnings.warn as a
// voxmol.VoxmolWarning, whatever `forward` says.
void deliver_text(const std::string& text, bool forward);

// The interrupt check of a call made from Python's main thread: at most every few tens of milliseconds it
// takes the GIL and runs Python's signal handlers; a handler that raises (Ctrl-C's KeyboardInterrupt)
// stops the work with that exception.
void check_python_signals();
bool in_main_thread();

// Runs `work` with the GIL released, the library's messages captured, and Ctrl-C noticed between blocks
// of work (from the main thread), then hands the messages on (deliver_text) with the GIL held again, also
// when `work` throws, before the exception goes on. `work` must not touch a Python object, except through
// an Output, which takes the GIL for itself.
template <class Work>
auto released(bool forward, Work&& work) -> decltype(work()) {
    using Result = decltype(work());
    CapturedText captured;
    const bool main = in_main_thread();
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<Result>, int, Result>> result;
    {
        py::gil_scoped_release nogil;
        TextOutRedirect redirect(captured.stream());
        InterruptCheckScope interrupts(main ? check_python_signals : nullptr);
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
                result.emplace(0);
            } else {
                result.emplace(work());
            }
        } catch (...) {
            failure = std::current_exception();
        }
    }
    const std::string text = captured.take();
    if (failure) {
        try {
            deliver_text(text, forward);
        } catch (...) {
            // The work's own failure is what the caller must see.
            PyErr_Clear();
        }
        std::rethrow_exception(failure);
    }
    deliver_text(text, forward);
    if constexpr (!std::is_void_v<Result>) return std::move(*result);
}

// The text of `size` bytes as a str, each byte read as the Latin-1 character of its value: PDB and grid
// files hold ASCII, and no byte of another text can make the conversion fail.
py::str latin1(const char* text, std::size_t size);
inline py::str latin1(std::string_view text) {
    return latin1(text.data(), text.size());
}

// ---- Arguments: each conversion raises TypeError or ValueError naming the argument -------------------

// The file name of a str, bytes or os.PathLike object, as the C library opens it. A name with a NUL
// byte raises ValueError (the C library would read a shorter name).
std::string file_name(const py::handle& path, const char* what = "path");
// A file name as Python shows it (os.fsdecode).
py::object shown_name(const std::string& name);
// An int (or anything with __index__, such as a NumPy integer; not a bool or a float).
long long as_int(const py::handle& v, const char* what);
int as_int32(const py::handle& v, const char* what);
// A real number (int, float, NumPy scalar); `finite` refuses NaN and infinities.
double as_double(const py::handle& v, const char* what, bool finite = false);
bool as_bool(const py::handle& v, const char* what);
std::string as_str(const py::handle& v, const char* what);
// Three finite numbers.
std::array<double, 3> as_vector3(const py::handle& v, const char* what);
// An array of 3-vectors, shape (N, 3) or (3,) (then N = 1, `single` set), as float64.
py::array_t<double, py::array::c_style> as_points(const py::handle& v, const char* what, bool& single);
// A pair of real numbers (a window).
std::pair<double, double> as_window(const py::handle& v, const char* what);

// An OSError (FileNotFoundError, PermissionError, ...) for `error_number` and the file `name`, as a C++
// exception that may be thrown with the GIL released; raised in Python when it reaches the binding.
struct OsError {
    int error_number;
    std::string name;
};
[[noreturn]] void raise_os_error(int error_number, const std::string& name);
// Raises the OSError a reading call meets first: a file that cannot be opened for reading, or a folder.
void check_readable(const std::string& name);

// Where a writer of the library writes: a file named by a str, bytes or os.PathLike (written into a
// temporary file that replaces the earlier one only when complete, as the command line writes), or a
// Python object with a write() method. A text file (io.TextIOBase) receives str, every byte read as Latin-1
// so that no byte is refused; any other object receives bytes. Made with the GIL held; its stream may be
// written with the GIL released (a Python object is then written with the GIL taken for each buffer).
class Output {
  public:
    explicit Output(const py::handle& target);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    std::FILE* get() const { return file_; }
    // A Python object may only be written from this thread, so the writer must not hand its buffers to
    // a second one.
    bool to_python() const { return python_; }
    // Flushes and closes the stream: raises the error a write() call raised, or OSError when the file
    // could not be written. May be called with the GIL released.
    void close();
    const std::string& name() const { return name_; }

  private:
    static ssize_t write_cookie(void* cookie, const char* buffer, std::size_t size);
    ssize_t write_to_target(const char* buffer, std::size_t size);

    std::FILE* file_ = nullptr;
    outfile::OutputFile named_;   // the file written by name
    std::string name_;            // the file's name, or the object's repr for messages
    bool python_ = false;         // the output is a Python object
    py::object target_;           // the Python object written to
    py::object write_;            // its write method
    bool text_ = false;           // the object takes str
    std::exception_ptr failure_;  // what a write() call raised, kept until close()
};

}  // namespace voxpy

#endif  // VOXMOL_PYTHON_HOST_H
