#pragma once
// Fixed-width text tables for the status dump. Each cell is centred in its
// column (the odd blank to the right); a cell wider than its column is
// written whole.
//
//   ext::Table t(40, 30);
//   out << t << ext::delimeter << ext::beginrow << "name" << ext::nextrow
//       << 42 << ext::nextrow << ext::delimeter;
//
// Writing the table to a stream gives a Sentry: values written to it collect
// into the current cell, ext::nextrow writes that cell, and a row left open
// is completed with blank cells when the Sentry ends.
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

class Table {
 public:
  Table() = default;
  explicit Table(int w1) { add(w1); }
  Table(int w1, int w2) : Table(w1) { add(w2); }
  Table(int w1, int w2, int w3) : Table(w1, w2) { add(w3); }
  Table(int w1, int w2, int w3, int w4) : Table(w1, w2, w3) { add(w4); }
  Table(int w1, int w2, int w3, int w4, int w5) : Table(w1, w2, w3, w4) { add(w5); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6) : Table(w1, w2, w3, w4, w5) { add(w6); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6, int w7) : Table(w1, w2, w3, w4, w5, w6) { add(w7); }

  void add(int width) { widths_.push_back(width); }
  void init() { resetrow(); }
  void resetrow() {
    next_ = 0;
    open_ = false;
  }

  // Writes the next cell of the row (nothing once every column is filled).
  void row(std::ostream& s, const std::string& cell);
  // Fills the rest of an open row with blank cells.
  void finalize(std::ostream& s);
  // A "+----+---+" line (after finishing an open row).
  void delimeter(std::ostream& s);
  // An empty "|    |   |" line.
  void gap(std::ostream& s);

  class Sentry {
   public:
    Sentry(std::ostream& s, Table& t) : os_(s), table_(t) {}
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;
    ~Sentry() { table_.finalize(os_); }

    template <class T>
    Sentry& operator<<(const T& value) {
      cell_ << value;
      return *this;
    }
    Sentry& operator<<(Sentry& (*manip)(Sentry&)) { return manip(*this); }

    // Writes the collected text as the next cell and empties the collector.
    void row() {
      table_.row(os_, cell_.str());
      cell_.str(std::string());
      cell_.clear();
    }
    Table& table() { return table_; }
    std::ostream& stream() { return os_; }

   private:
    std::ostream& os_;
    Table& table_;
    std::ostringstream cell_;
  };

 private:
  std::vector<int> widths_;
  std::size_t next_ = 0;
  bool open_ = false;
};

inline Table::Sentry operator<<(std::ostream& s, Table& t) { return Table::Sentry(s, t); }

// Manipulators of a Sentry.
Table::Sentry& beginrow(Table::Sentry& s);
Table::Sentry& nextrow(Table::Sentry& s);
Table::Sentry& delimeter(Table::Sentry& s);

}  // namespace ext
