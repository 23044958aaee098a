// What the bindings share: the library's fatal errors as C++ exceptions, the C library's standard output
// taken away from descriptor 1 while the library runs, file names from Python path objects, and output
// streams that end in a Python file object.
//
// The module never releases the GIL: while descriptor 1 is redirected, no other Python thread can print
// into the capture, and a Python file object is only ever written from the thread that holds the GIL.
#ifndef VOXMOL_PYTHON_HOST_H
#define VOXMOL_PYTHON_HOST_H

#include <pybind11/pybind11.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "dx/write/output_file.h"

namespace voxpy {

namespace py = pybind11;

// A fatal error of the library (err, err1), raised in Python as voxmol.Error: its text is
// "<where>: <message>", with both parts kept as the attributes `where` and `message`.
struct FatalError : std::runtime_error {
    FatalError(std::string_view where, std::string_view message);
    std::string where;
    std::string message;
};

// Registers voxmol.Error in `m` and makes every later fatal error of the library throw FatalError
// instead of printing its block and ending the process.
void install_error_handling(py::module_& m);

// From construction to finish() (or destruction), whatever the process writes on descriptor 1 (the C
// library's stdout, flushed at both ends) goes to an anonymous in-memory file; finish() restores
// descriptor 1 and returns the text.
class CapturedStdout {
  public:
    CapturedStdout();
    ~CapturedStdout();
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;
    std::string finish();

  private:
    void restore();
    int capture_ = -1;  // the in-memory file
    int saved_ = -1;    // descriptor 1 as it was; -1 when it was closed
};

// The text of `size` bytes as a str, each byte read as the Latin-1 character of its value: PDB and grid
// files hold ASCII, and no byte of another text can make the conversion fail.
py::str latin1(const char* text, std::size_t size);

// Writes `text` to Python's sys.stdout (nothing when there is none, as under pythonw).
void write_to_sys_stdout(const std::string& text);

// Runs `work` with the library's standard output captured, and returns what it returns. The captured
// text goes to sys.stdout when `forward`, and is dropped otherwise; also when `work` throws, before the
// exception goes on.
template <class Work>
auto quietly(bool forward, Work&& work) -> decltype(work()) {
    CapturedStdout captured;
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            const std::string text = captured.finish();
            if (forward) write_to_sys_stdout(text);
        } else {
            auto result = work();
            const std::string text = captured.finish();
            if (forward) write_to_sys_stdout(text);
            return result;
        }
    } catch (...) {
        const std::string text = captured.finish();  // empty when finish() already ran
        if (forward) write_to_sys_stdout(text);
        throw;
    }
}

// The file name of a str, bytes or os.PathLike object, as the C library opens it.
std::string file_name(const py::handle& path);

// Raises OSError (FileNotFoundError, PermissionError, ...) for `error_number` and the file `name`.
[[noreturn]] void raise_os_error(int error_number, const std::string& name);

// Where a writer of the library writes: a file named by a str, bytes or os.PathLike (written into a
// temporary file that replaces the earlier one only when complete, as the command line writes), or a
// Python object with a write() method. A text file (io.TextIOBase) receives str, every byte read as Latin-1
// so that no byte is refused; any other object receives bytes.
class Output {
  public:
    explicit Output(const py::handle& target);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    std::FILE* get() const { return file_; }
    // A Python object may only be written from this thread, so the writer must not hand its buffers to
    // a second one.
    bool to_python() const { return !target_.is_none(); }
    // Flushes and closes the stream: raises the error a write() call raised, or OSError when the file
    // could not be written.
    void close();

  private:
    static ssize_t write_cookie(void* cookie, const char* buffer, std::size_t size);
    ssize_t write_to_target(const char* buffer, std::size_t size);

    std::FILE* file_ = nullptr;
    outfile::OutputFile named_;   // the file written by name
    std::string name_;            // the file's name, or the object's repr for messages
    py::object target_;           // the Python object written to; None for a named file
    py::object write_;            // its write method
    bool text_ = false;           // the object takes str
    std::exception_ptr failure_;  // what a write() call raised, kept until close()
};

}  // namespace voxpy

#endif  // VOXMOL_PYTHON_HOST_H
