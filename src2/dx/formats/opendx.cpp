// The OpenDX reader: one regular grid with one array of scalar values, as Poisson-Boltzmann solvers,
// cavity detectors and grid libraries write it:
//
//   # comments
//   object 1 class gridpositions counts nx ny nz      nx*ny*nz points, the last count varying fastest
//   origin x y z                                      point (0, 0, 0), in Ångström
//   delta ax ay az                                    three step vectors, along i, j and k: any vectors
//   delta bx by bz                                    (a non-diagonal set is a sheared grid)
//   delta cx cy cz
//   object 2 class gridconnections counts nx ny nz
//   object 3 class array type double rank 0 items N [msb|lsb] [text|ascii|binary|ieee] data follows
//   <N values, k fastest: the walk order itself>
//   attribute "dep" string "positions"
//   object "name" class field
//   component "positions" value 1 ...
//
// The header is read as the format's stream of words, numbers and quoted strings: an object's clauses may
// come in any order and be spread over lines, "#" starts a comment anywhere, quotes around names and types
// are optional. Objects may come in any order: when the grid positions come first (as every grid writer
// puts them), the data array's values are read straight into the grid; an array that comes before them
// (OpenDX's own samples list the data first) is kept until the whole file is read, and the field's "data"
// component names which array holds the grid's values. What follows the values is read as statements,
// never as values, and checked lightly: its first word must not be a number (the item count would be
// wrong), connections must agree with the grid, a field's components must name the objects read.
// Anything the reader could only take by guessing is fatal: other kinds of positions, data in another
// file, a count that disagrees with the grid.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/fatal.h"
#include "dx/formats/format.h"
#include "dx/io/bytes.h"
#include "dx/io/cconv.h"
#include "dx/io/words.h"
#include "string_tool2/cscan.h"

namespace gridfmt {

namespace {

using textwords::shown;

// One word, number or quoted string of the header (quotes removed).
struct Token {
    std::string text;
    bool quoted = false;
    std::size_t line = 0;  // of the header, for messages
    bool is(std::string_view word) const { return !quoted && text == word; }
};

// A token that is a number as a whole, read with the shared scanner.
bool number_of(const Token& t, double& value) {
    return !t.quoted && textwords::real(t.text, value);
}

bool is_number(const Token& t) {
    double ignored;
    return number_of(t, ignored);
}

bool separates(char c) {
    return cscan::is_space(c) || c == ',';
}

// The next token of `line` from `pos`, which moves past it; false when only separators or a comment are
// left. A quoted string ends on its line: one that does not close is fatal, unless `lenient` (then it
// runs to the line's end).
bool next_token(std::string_view line, std::size_t& pos, bool lenient, Token& t) {
    while (pos < line.size() && separates(line[pos]))
        ++pos;
    if (pos == line.size() || line[pos] == '#') return false;
    if (line[pos] == '"') {
        const std::size_t close = line.find('"', pos + 1);
        if (close == std::string_view::npos && !lenient)
            fail("The OpenDX header has a quote that does not close on its line (line " +
                 std::to_string(t.line) + ")");
        const std::size_t end = close == std::string_view::npos ? line.size() : close;
        t.text.assign(line.substr(pos + 1, end - pos - 1));
        t.quoted = true;
        pos = close == std::string_view::npos ? end : close + 1;
        return true;
    }
    std::size_t end = pos;
    while (end < line.size() && !separates(line[end]) && line[end] != '"' && line[end] != '#')
        ++end;
    t.text.assign(line.substr(pos, end - pos));
    t.quoted = false;
    pos = end;
    return true;
}

// The header's tokens, line by line from the stream. A quoted string ends on its line; "," separates
// like a blank (the format writes "file name,offset"). Line numbers count the lines handed out.
class Tokens {
  public:
    explicit Tokens(io::BlockReader& in) : in_(in) {}

    // The next token without taking it; nullptr at the end of the stream.
    const Token* peek() {
        if (!ahead_) {
            Token t;
            if (!fetch(t)) return nullptr;
            ahead_ = std::move(t);
        }
        return &*ahead_;
    }
    bool next(Token& t) {
        if (peek() == nullptr) return false;
        t = std::move(*ahead_);
        ahead_.reset();
        return true;
    }
    // Right after next() with nothing peeked: whether the rest of the token's line is blank or a comment.
    bool rest_of_line_blank() const {
        std::size_t p = pos_;
        while (p < line_.size() && separates(line_[p]))
            ++p;
        return p == line_.size() || line_[p] == '#';
    }
    // Starts again on the next line of the stream, after the values were read from it directly.
    void restart(bool lenient) {
        line_ = {};
        pos_ = 0;
        ahead_.reset();
        lenient_ = lenient;
    }

  private:
    bool fetch(Token& t) {
        for (;;) {
            t.line = line_number_;
            if (next_token(line_, pos_, lenient_, t)) return true;
            if (!in_.next(line_)) return false;
            pos_ = 0;
            ++line_number_;
        }
    }

    io::BlockReader& in_;
    std::string_view line_;  // valid until the stream's next line is asked for
    std::size_t pos_ = 0;
    std::size_t line_number_ = 0;
    std::optional<Token> ahead_;
    bool lenient_ = false;  // after the values: an open quote runs to the line's end
};

enum class Encoding { unset, text, binary };
enum class Order { unset, msb, lsb };
enum class ValueType { float32, float64, integer };

// What the header says about the grid and its data.
struct Header {
    std::optional<std::string> positions;  // the objects' names
    std::optional<std::string> connections;
    std::optional<std::string> data;
    int counts[3] = {0, 0, 0};
    int connection_counts[3] = {0, 0, 0};
    std::array<double, 3> origin{};
    std::vector<std::array<double, 3>> deltas;
    std::uint64_t items = 0;
    Encoding encoding = Encoding::unset;
    Order order = Order::unset;
    ValueType type = ValueType::float32;  // the format's default type
    std::string type_name = "float";
    Encoding default_encoding = Encoding::unset;  // from a "data mode" clause outside an array
    Order default_order = Order::unset;
    std::vector<std::pair<std::string, std::string>> components;  // a field's (component, object)
};

std::string counts_text(const int (&c)[3]) {
    return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
}

constexpr const char* kGuessedOrder =
    "The OpenDX binary data do not give their byte order (msb or lsb): read as lsb, the order APBS and VMD "
    "write";

class OpenDxReader final : public Reader {
  public:
    explicit OpenDxReader(io::BlockReader& in) : in_(in), tokens_(in) {}
    Geometry read_header() override;
    long read_values(std::span<double> values, ValueProgress* progress) override;

  private:
    static std::string where(const Token& t) { return " (line " + std::to_string(t.line) + ")"; }
    Token take(const char* what);
    std::vector<Token> number_list();
    bool at_statement();
    bool parse_object();
    void parse_counts(int (&counts)[3], const char* what);
    void parse_positions(const std::string& name);
    void parse_connections(const std::string& name, bool strict);
    void parse_array(const std::string& name);
    void parse_field(bool strict);
    void parse_type();
    void parse_data_clause();
    void parse_data_mode(Encoding& encoding, Order& order);
    void skip_attribute(bool taken = false);
    void check_connections() const;
    void check_array() const;
    void check_items() const;
    void keep_array();
    void choose_kept_array();
    template <typename Store>
    void read_text_values(std::size_t total, Store&& store);
    void check_components() const;
    void read_text(std::span<double> values);
    void read_binary(std::span<double> values, std::size_t first, std::size_t total);
    bool settle_order();
    std::string description() const;
    void read_trailer(bool binary);

    io::BlockReader& in_;
    Tokens tokens_;
    Header h_;
    // The arrays read before the grid was known, or after such a one: the values of each, by name, and
    // what its header said.
    struct KeptArray {
        std::string name;
        std::vector<double> values;
        std::string description;
        bool guessed_order = false;
    };
    std::vector<KeptArray> kept_;
    const KeptArray* chosen_ = nullptr;
};

// The next token, which the clause being read needs.
Token OpenDxReader::take(const char* what) {
    Token t;
    if (!tokens_.next(t)) fail(std::string("The OpenDX file ends where ") + what + " was expected");
    return t;
}

// The numbers that follow, up to the first token that is not one.
std::vector<Token> OpenDxReader::number_list() {
    std::vector<Token> list;
    while (const Token* t = tokens_.peek()) {
        if (!is_number(*t)) break;
        list.emplace_back();
        tokens_.next(list.back());
    }
    return list;
}

// Whether the next token starts a statement of its own rather than a clause of the current object.
bool OpenDxReader::at_statement() {
    const Token* t = tokens_.peek();
    return t == nullptr || t->is("object") || t->is("end");
}

// "attribute "name" [value] string "s"... | number n | <reference>": read past, whatever it says.
void OpenDxReader::skip_attribute(bool taken) {
    Token t;
    if (!taken) tokens_.next(t);                       // "attribute"
    if (!tokens_.next(t) || !tokens_.next(t)) return;  // its name, then what gives its value
    if (t.is("value") && !tokens_.next(t)) return;
    if (t.is("string")) {
        while (tokens_.peek() != nullptr && tokens_.peek()->quoted)
            tokens_.next(t);
    } else if (t.is("number")) {
        number_list();
    } else if (t.is("file")) {
        tokens_.next(t);
    }
}

// An object statement of the header, "object <name> [class] <class> <clauses>". Returns true when it is
// the data array, whose values follow the current line.
bool OpenDxReader::parse_object() {
    const std::string name = take("an object name").text;
    Token cls = take("an object class");
    if (cls.is("class")) cls = take("an object class");
    if (cls.is("gridconnections")) {
        parse_connections(name, true);
    } else if (cls.is("field")) {
        parse_field(true);
    } else if (cls.is("gridpositions")) {
        parse_positions(name);
    } else if (cls.is("array")) {
        parse_array(name);
        return true;
    } else if (cls.is("regulararray") || cls.is("productarray")) {
        fail("The OpenDX positions are a " + shown(cls.text) +
             " object: voxmol reads regular grids given as \"class gridpositions\"");
    } else {
        fail("The OpenDX file holds a \"" + shown(cls.text) +
             "\" object, which voxmol does not read: it reads one regular grid (\"class gridpositions\") "
             "with one array of values" +
             where(cls));
    }
    return false;
}

// "[counts] n n n": three whole numbers, each at least 1.
void OpenDxReader::parse_counts(int (&counts)[3], const char* what) {
    const std::vector<Token> list = number_list();
    std::string text;  // the counts as the file gives them, the first few of a long list
    for (std::size_t n = 0; n < list.size() && n < 6; ++n) {
        if (n > 0) text += ' ';
        text += n < 5 ? shown(list[n].text) : std::string("...");
    }
    if (list.size() != 3) {
        fail(std::string("The OpenDX ") + what + " give " + std::to_string(list.size()) + " counts (\"" +
             text + "\"), not 3: voxmol reads 3-dimensional grids");
    }
    for (int d = 0; d < 3; ++d) {
        double v = 0.0;
        number_of(list[d], v);
        if (!(v >= 1.0 && v <= 2147483647.0 && v == std::floor(v))) {
            fail(std::string("The OpenDX ") + what + " counts \"" + text +
                 "\" must be whole numbers from 1 to 2147483647");
        }
        counts[d] = static_cast<int>(v);
    }
}

void OpenDxReader::parse_positions(const std::string& name) {
    if (h_.positions) fail("The OpenDX file holds two gridpositions objects: voxmol reads one grid");
    h_.positions = name;
    bool counted = false;
    bool have_origin = false;
    while (!at_statement()) {
        const Token& t = *tokens_.peek();
        if (t.is("counts") || (!counted && is_number(t))) {
            if (t.is("counts")) take("counts");
            parse_counts(h_.counts, "grid positions");
            counted = true;
        } else if (t.is("origin") || t.is("delta")) {
            const bool origin = t.is("origin");
            const Token keyword = take("a keyword");
            const std::vector<Token> list = number_list();
            if (list.size() != 3) {
                fail(std::string("The OpenDX ") + (origin ? "origin" : "delta") + " has " +
                     std::to_string(list.size()) + " numbers, not 3" + where(keyword));
            }
            std::array<double, 3> v{};
            for (int d = 0; d < 3; ++d)
                number_of(list[d], v[d]);
            if (origin) {
                if (have_origin) fail("The OpenDX grid positions give two origins" + where(keyword));
                h_.origin = v;
                have_origin = true;
            } else {
                h_.deltas.push_back(v);
            }
        } else if (t.is("attribute")) {
            skip_attribute();
        } else if (t.is("data")) {
            break;  // a "data mode" statement
        } else {
            fail("The OpenDX grid positions have \"" + shown(t.text) + "\" where counts, origin or delta" +
                 " was expected" + where(t));
        }
    }
    if (!counted) fail("The OpenDX grid positions give no counts");
    if (!have_origin) fail("The OpenDX grid positions give no origin");
    if (h_.deltas.size() != 3) {
        fail("The OpenDX grid positions give " + std::to_string(h_.deltas.size()) +
             " delta lines, not 3 (one step vector per axis)");
    }
    check_connections();
}

// Strict before the data: every clause must be one of a gridconnections object. After it, a clause not
// understood ends the object and is read past by the caller.
void OpenDxReader::parse_connections(const std::string& name, bool strict) {
    if (h_.connections) fail("The OpenDX file holds two gridconnections objects: voxmol reads one grid");
    h_.connections = name;
    bool counted = false;
    while (!at_statement()) {
        const Token& t = *tokens_.peek();
        if (t.is("counts") || (!counted && is_number(t))) {
            if (t.is("counts")) take("counts");
            parse_counts(h_.connection_counts, "grid connections");
            counted = true;
        } else if (t.is("attribute")) {
            skip_attribute();
        } else if (!strict || t.is("data")) {
            break;
        } else {
            fail("The OpenDX grid connections have \"" + shown(t.text) + "\" where counts were expected" +
                 where(t));
        }
    }
    if (!counted) fail("The OpenDX grid connections give no counts");
    check_connections();
}

void OpenDxReader::check_connections() const {
    if (!h_.positions || !h_.connections) return;
    if (!std::equal(std::begin(h_.counts), std::end(h_.counts), std::begin(h_.connection_counts))) {
        fail("The OpenDX grid connections' counts " + counts_text(h_.connection_counts) +
             " disagree with the grid positions' counts " + counts_text(h_.counts));
    }
}

// "component "name" [value] <object>" clauses, kept to be checked once every object is known.
void OpenDxReader::parse_field(bool strict) {
    while (!at_statement()) {
        const Token& t = *tokens_.peek();
        if (t.is("component")) {
            take("component");
            const std::string component = take("a component name").text;
            Token ref = take("a component value");
            if (ref.is("value")) ref = take("a component value");
            h_.components.emplace_back(component, ref.text);
        } else if (t.is("attribute")) {
            skip_attribute();
        } else if (!strict || t.is("data")) {
            break;
        } else {
            fail("The OpenDX field has \"" + shown(t.text) + "\" where a component was expected" + where(t));
        }
    }
}

// "type [signed|unsigned] <name>", quoted or not. Text data of an integer type reads as numbers all the
// same; binary data must be float or double.
void OpenDxReader::parse_type() {
    Token t = take("a data type");
    std::string name = t.text;
    if (!t.quoted && (name == "signed" || name == "unsigned")) name += " " + take("a data type").text;
    std::string base = name;
    if (base.starts_with("signed ")) base = base.substr(7);
    if (base.starts_with("unsigned ")) base = base.substr(9);
    if (base == "float") {
        h_.type = ValueType::float32;
    } else if (base == "double") {
        h_.type = ValueType::float64;
    } else if (base == "byte" || base == "char" || base == "short" || base == "int" || base == "hyper") {
        h_.type = ValueType::integer;
    } else {
        fail("The OpenDX data type \"" + shown(name) + "\" is not read: voxmol reads numbers" + where(t));
    }
    h_.type_name = name;
}

// "[msb|lsb] [text|ascii|binary|ieee]", given at most once each.
void OpenDxReader::parse_data_mode(Encoding& encoding, Order& order) {
    while (const Token* t = tokens_.peek()) {
        Encoding e = Encoding::unset;
        Order o = Order::unset;
        if (t->is("text") || t->is("ascii")) e = Encoding::text;
        if (t->is("binary") || t->is("ieee")) e = Encoding::binary;
        if (t->is("msb")) o = Order::msb;
        if (t->is("lsb")) o = Order::lsb;
        if (e == Encoding::unset && o == Order::unset) return;
        if ((e != Encoding::unset && encoding != Encoding::unset && e != encoding) ||
            (o != Order::unset && order != Order::unset && o != order)) {
            fail("The OpenDX data array gives two different data formats or byte orders" + where(*t));
        }
        if (e != Encoding::unset) encoding = e;
        if (o != Order::unset) order = o;
        take("a data format");
    }
}

// "data [mode] follows": the values start on the next line. Data elsewhere is not read.
void OpenDxReader::parse_data_clause() {
    take("data");
    Token t = take("the data's place");
    if (t.is("mode")) t = take("the data's place");
    if (t.is("file")) {
        fail(
            "The OpenDX data lies in another file (\"data file\"): voxmol reads data that follows its header "
            "(\"data follows\")");
    }
    if (is_number(t)) {
        fail(
            "The OpenDX data lies at an offset in the file's data section: voxmol reads data that follows "
            "its header (\"data follows\")");
    }
    if (!t.is("follows"))
        fail("The OpenDX data clause has \"" + shown(t.text) + "\" for its place" + where(t));
    if (!tokens_.rest_of_line_blank()) {
        fail("The OpenDX file has more text on the line of \"data follows\"" + where(t) +
             ": the data starts on the next line");
    }
}

// The data array's clauses, through "data follows".
void OpenDxReader::parse_array(const std::string& name) {
    h_.data = name;
    h_.encoding = Encoding::unset;
    h_.order = Order::unset;
    h_.type = ValueType::float32;
    h_.type_name = "float";
    bool have_items = false;
    for (;;) {
        if (at_statement()) {
            fail(
                "The OpenDX data array gives no \"data follows\": voxmol reads data that follows its header");
        }
        const Token& t = *tokens_.peek();
        if (t.is("data")) {
            parse_data_clause();
            break;
        }
        if (t.is("type")) {
            take("type");
            parse_type();
        } else if (t.is("category")) {
            take("category");
            const Token c = take("a category");
            if (!c.is("real")) fail("The OpenDX data are " + shown(c.text) + ": voxmol reads real numbers");
        } else if (t.is("rank")) {
            take("rank");
            const Token r = take("a rank");
            double rank = -1.0;
            if (!number_of(r, rank) || rank != 0.0) {
                fail("The OpenDX data array has rank " + shown(r.text) +
                     ": voxmol reads one value per point (rank 0)");
            }
        } else if (t.is("shape")) {
            take("shape");
            number_list();  // meaningless at rank 0
        } else if (t.is("items")) {
            take("items");
            const Token n = take("an item count");
            double v = -1.0;
            if (!number_of(n, v) || !(v >= 0.0 && v < 1.8e19 && v == std::floor(v))) {
                fail("The OpenDX item count \"" + shown(n.text) + "\" is not a whole number" + where(n));
            }
            h_.items = static_cast<std::uint64_t>(v);
            have_items = true;
        } else if (t.is("attribute")) {
            skip_attribute();
        } else if (t.is("msb") || t.is("lsb") || t.is("text") || t.is("ascii") || t.is("binary") ||
                   t.is("ieee")) {
            parse_data_mode(h_.encoding, h_.order);
        } else {
            fail("The OpenDX data array has \"" + shown(t.text) + "\" where a clause was expected" +
                 where(t));
        }
    }
    if (!have_items) fail("The OpenDX data array gives no item count (\"items N\")");
    if (h_.encoding == Encoding::unset) h_.encoding = h_.default_encoding;
    if (h_.order == Order::unset) h_.order = h_.default_order;
    check_array();
}

void OpenDxReader::check_array() const {
    if (h_.positions && kept_.empty()) check_items();
    if (h_.encoding == Encoding::binary && h_.type == ValueType::integer) {
        fail("The OpenDX binary data are of type \"" + h_.type_name +
             "\": voxmol reads binary data of type float or double");
    }
}

void OpenDxReader::check_items() const {
    const std::optional<std::uint64_t> product =
        product3(static_cast<std::uint64_t>(h_.counts[0]), static_cast<std::uint64_t>(h_.counts[1]),
                 static_cast<std::uint64_t>(h_.counts[2]));
    const bool fits = product.has_value();
    const std::uint64_t points = product.value_or(0);
    if (!fits || points != h_.items) {
        fail("The OpenDX data array has " + std::to_string(h_.items) + " items, but its grid of " +
             std::to_string(h_.counts[0]) + " x " + std::to_string(h_.counts[1]) + " x " +
             std::to_string(h_.counts[2]) + " points needs " + (fits ? std::to_string(points) : "more"));
    }
}

void OpenDxReader::check_components() const {
    for (const auto& [component, object] : h_.components) {
        const std::optional<std::string>* read = nullptr;
        if (component == "data") read = &h_.data;
        if (component == "positions") read = &h_.positions;
        if (component == "connections") read = &h_.connections;
        if (read == nullptr || !*read || **read == object) continue;
        fail("The OpenDX field takes its " + shown(component) + " from object \"" + shown(object) +
             "\", not from the one voxmol read (object \"" + shown(**read) + "\")");
    }
}

Geometry OpenDxReader::read_header() {
    for (;;) {
        Token t;
        if (!tokens_.next(t) || t.is("end")) {
            if (!kept_.empty()) {
                choose_kept_array();
                break;
            }
            fail("The OpenDX file holds no data array (\"object ... class array ... data follows\")");
        }
        if (t.is("object")) {
            if (!parse_object()) continue;
            if (h_.positions && kept_.empty())
                break;  // the usual order: the values go straight into the grid
            keep_array();
        } else if (t.is("attribute") && !kept_.empty()) {
            skip_attribute(true);  // of the array just kept
        } else if (t.is("data")) {
            if (!take("mode").is("mode")) fail("The OpenDX header has \"data\" outside an array" + where(t));
            parse_data_mode(h_.default_encoding, h_.default_order);
        } else {
            fail("The OpenDX header has \"" + shown(t.text) + "\" where an object was expected" + where(t));
        }
    }
    Geometry g;
    if (chosen_ != nullptr) {
        g.description = chosen_->description;
        if (chosen_->guessed_order) g.warnings.push_back(kGuessedOrder);
    }
    g.nx = h_.counts[0];
    g.ny = h_.counts[1];
    g.nz = h_.counts[2];
    g.origin = h_.origin;
    for (int d = 0; d < 3; ++d)
        g.axes[d] = h_.deltas[d];
    if (chosen_ == nullptr) {
        if (settle_order()) g.warnings.push_back(kGuessedOrder);
        g.description = description();
    }
    return g;
}

// The byte order of binary data that give none; true when it was guessed. The format's own default is
// msb, but the writers that leave the order out (APBS's dxbin, VMD) write their machine's order, which is
// lsb on every machine in use.
bool OpenDxReader::settle_order() {
    if (h_.encoding != Encoding::binary || h_.order != Order::unset) return false;
    h_.order = Order::lsb;
    return true;
}

std::string OpenDxReader::description() const {
    if (h_.encoding != Encoding::binary) return "OpenDX, text";
    return std::string("OpenDX, binary ") + (h_.order == Order::msb ? "msb " : "lsb ") +
           (h_.type == ValueType::float64 ? "double" : "float");
}

// An array read before the grid is known (or after such a one): its values are kept, as many as the file
// holds of its item count (a count the file does not hold is refused when the file ends, before memory
// for it is taken), and the statements after it are read on.
void OpenDxReader::keep_array() {
    KeptArray kept;
    kept.name = *h_.data;
    kept.guessed_order = settle_order();
    kept.description = description();
    const std::size_t total = static_cast<std::size_t>(std::min<std::uint64_t>(h_.items, SIZE_MAX / 16));
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    if (h_.encoding == Encoding::binary) {
        for (std::size_t done = 0; done < total;) {
            const std::size_t n = std::min(kChunk, total - done);
            kept.values.resize(done + n);
            read_binary(std::span<double>(kept.values).subspan(done, n), done, total);
            done += n;
        }
    } else {
        read_text_values(total, [&](std::size_t n, double v) {
            if (n == kept.values.size()) kept.values.resize(n + std::min(kChunk, total - n));
            kept.values[n] = v;
        });
    }
    kept_.push_back(std::move(kept));
    tokens_.restart(true);
    const Token* next = tokens_.peek();
    if (next != nullptr && is_number(*next)) {
        fail("The OpenDX data array \"" + shown(kept_.back().name) + "\" holds more values than its " +
             std::to_string(h_.items) + " items");
    }
}

// At the end of a file whose arrays were kept: the data are the array the field's "data" component names,
// or the only one.
void OpenDxReader::choose_kept_array() {
    if (!h_.positions) {
        fail(
            "The OpenDX file gives no regular grid (\"class gridpositions\") for its data: voxmol reads "
            "regular "
            "grids");
    }
    std::optional<std::string> named;
    for (const auto& [component, object] : h_.components)
        if (component == "data") named = object;
    for (const KeptArray& k : kept_) {
        if (named ? k.name == *named : kept_.size() == 1) chosen_ = &k;
    }
    if (chosen_ == nullptr) {
        fail(named ? "The OpenDX field takes its data from object \"" + shown(*named) +
                         "\", which the file does not hold as an array"
                   : std::string("The OpenDX file holds several arrays and no field that names its data"));
    }
    h_.data = chosen_->name;
    h_.items = chosen_->values.size();
    check_items();
}

long OpenDxReader::read_values(std::span<double> values, ValueProgress*) {
    if (chosen_ != nullptr) {
        // The whole file was read with the header: the values are those kept.
        if (values.size() != chosen_->values.size())
            fail("The grid's values do not match the OpenDX data array");
        std::copy(chosen_->values.begin(), chosen_->values.end(), values.begin());
        check_components();
        return static_cast<long>(values.size());
    }
    const bool binary = h_.encoding == Encoding::binary;
    if (binary) {
        read_binary(values, 0, values.size());
    } else {
        read_text(values);
    }
    read_trailer(binary);
    check_components();
    return static_cast<long>(values.size());
}

// The DX statements that may follow a data array: where one stands in place of a value, the data ended.
bool is_statement_word(std::string_view word) {
    return word == "object" || word == "attribute" || word == "component" || word == "end";
}

[[noreturn]] void value_not_a_number(std::size_t index, std::size_t total, const char* p, const char* e,
                                     bool first_on_line) {
    const char* token_end = p;
    while (token_end < e && !cscan::is_space(*token_end))
        ++token_end;
    const std::string_view token(p, static_cast<std::size_t>(token_end - p));
    if (first_on_line && is_statement_word(token)) {
        fail("The OpenDX data array ends after " + std::to_string(index) + " of " + std::to_string(total) +
             " values (\"" + shown(token) + "\" follows)");
    }
    fail("The OpenDX data value " + std::to_string(index + 1) + " of " + std::to_string(total) +
         " is not a number: \"" + shown(token) + "\"");
}

// Values separated by white space, any number to a line, "#" comments allowed; the line of the last
// value must hold nothing more.
void OpenDxReader::read_text(std::span<double> values) {
    double* const out = values.data();
    read_text_values(values.size(), [out](std::size_t n, double v) { out[n] = v; });
}

// `total` values, each handed to store(n, value) as it is read.
template <typename Store>
void OpenDxReader::read_text_values(std::size_t total, Store&& store) {
    std::size_t n = 0;
    std::string_view line;
    const char* p = nullptr;
    const char* e = nullptr;
    while (n < total) {
        if (!in_.next(line)) {
            fail("The OpenDX file ends after " + std::to_string(n) + " of " + std::to_string(total) +
                 " values");
        }
        p = line.data();
        e = p + line.size();
        const char* const line_start = p;
        while (n < total) {
            p = cscan::skip_space(p, e);
            if (p == e || *p == '#') break;
            double v;
            const char* q = cconv::scan_number(p, e, v);
            if (q == nullptr || (q < e && !cscan::is_space(*q))) {
                value_not_a_number(n, total, p, e, cscan::skip_space(line_start, e) == p);
            }
            store(n, v);
            ++n;
            p = q;
        }
    }
    p = cscan::skip_space(p, e);
    if (p < e && *p != '#') {
        double extra;
        const char* q = cscan::scan_double(p, e, extra);
        if (q != nullptr && (q == e || cscan::is_space(*q))) {
            fail("The OpenDX data array holds more values than its " + std::to_string(total) + " items");
        }
        fail("The OpenDX file has text after its last value, on the same line");
    }
}

// Raw IEEE values right after the "data follows" line, in the given byte order: the values from number
// `first` of the array's `total`.
void OpenDxReader::read_binary(std::span<double> values, std::size_t first, std::size_t total) {
    const bool swap = (h_.order == Order::msb) != (std::endian::native == std::endian::big);
    auto truncated = [&](std::size_t bytes, std::size_t size) {
        fail("The OpenDX file ends after " + std::to_string(first + bytes / size) + " of " +
             std::to_string(total) + " values");
    };
    const std::size_t count = values.size();
    if (h_.type == ValueType::float64) {
        // Read in place: the values' own bytes receive the file's.
        char* const bytes = reinterpret_cast<char*>(values.data());
        const std::size_t got = in_.read(bytes, count * sizeof(double));
        if (got < count * sizeof(double)) truncated(got, sizeof(double));
        if (swap) {
            for (double& v : values)
                v = io::load<double, true>(reinterpret_cast<const char*>(&v));
        }
        return;
    }
    constexpr std::size_t kChunk = 1 << 16;  // floats converted per read
    std::vector<char> chunk(std::min(kChunk, count) * sizeof(float));
    for (std::size_t done = 0; done < count;) {
        const std::size_t want = std::min(chunk.size() / sizeof(float), count - done);
        const std::size_t got = in_.read(chunk.data(), want * sizeof(float));
        if (got < want * sizeof(float)) truncated(done * sizeof(float) + got, sizeof(float));
        for (std::size_t i = 0; i < want; ++i)
            values[done + i] = io::load<float>(chunk.data() + i * sizeof(float), swap);
        done += want;
    }
}

// What follows the values: statements, read leniently, but never a value. A number right after the data
// means the item count is short; bytes that are no word mean binary data longer than the header says.
void OpenDxReader::read_trailer(bool binary) {
    tokens_.restart(true);
    const Token* first = tokens_.peek();
    if (first == nullptr) return;
    if (is_number(*first)) {
        fail("The OpenDX data array holds more " + std::string(binary ? "data" : "values") + " than its " +
             std::to_string(h_.items) + " items");
    }
    const char c = first->text.empty() ? 'x' : first->text[0];
    if (!first->quoted && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
        fail("The OpenDX file has \"" + shown(first->text) + "\" after its " + std::to_string(h_.items) +
             " values, where a statement was expected: the item count or data type is wrong");
    }
    Token t;
    while (tokens_.next(t)) {
        if (t.is("end")) return;
        if (!t.is("object")) continue;  // attributes and clauses of objects voxmol does not use
        Token name;
        Token cls;
        if (!tokens_.next(name)) return;
        if (!tokens_.next(cls)) return;
        if (cls.is("class") && !tokens_.next(cls)) return;
        if (cls.is("array") || cls.is("constantarray")) return;  // its data may be binary: stop here
        if (cls.is("gridconnections")) {
            parse_connections(name.text, false);
        } else if (cls.is("field")) {
            parse_field(false);
        }
    }
}

}  // namespace

namespace {

// The object classes of the format: a title line of voxmol's own format that merely starts with the word
// "object" is not taken.
constexpr std::string_view kClasses[] = {"group",        "series",       "multigrid",       "compositefield",
                                         "field",        "array",        "constantarray",   "gridpositions",
                                         "regulararray", "productarray", "gridconnections", "patharray",
                                         "mesharray",    "xform",        "string",          "light",
                                         "camera",       "clipped",      "screen"};

// The first line that holds a token is "object <name> [class] <class>", read with the header's own
// token rules.
bool detect_opendx(std::string_view prefix, std::string_view) {
    while (!prefix.empty()) {
        const std::size_t nl = prefix.find('\n');
        const std::string_view line = prefix.substr(0, nl);
        prefix = nl == std::string_view::npos ? std::string_view() : prefix.substr(nl + 1);
        std::size_t pos = 0;
        Token t;
        if (!next_token(line, pos, true, t)) continue;
        if (!t.is("object") || !next_token(line, pos, true, t) || !next_token(line, pos, true, t))
            return false;
        if (t.is("class") && !next_token(line, pos, true, t)) return false;
        return !t.quoted && std::find(std::begin(kClasses), std::end(kClasses), t.text) != std::end(kClasses);
    }
    return false;
}

std::unique_ptr<Reader> open_opendx(io::BlockReader& in, int) {
    return std::make_unique<OpenDxReader>(in);
}

}  // namespace

extern const Format opendx_format = {
    "OpenDX",
    "electrostatics solvers (APBS), cavity detectors, grid libraries: .dx, text or binary",
    detect_opendx,
    open_opendx,
};

}  // namespace gridfmt
