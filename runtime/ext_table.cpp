#include "runtime/ext_table.h"

namespace ext {

void Table::row(std::ostream& s, const std::string& cell) {
  if (next_ >= widths_.size()) return;
  open_ = true;
  const int width = widths_[next_];
  const int n = static_cast<int>(cell.size()) < width ? static_cast<int>(cell.size()) : width;
  s << '|';
  if (static_cast<int>(cell.size()) > width) {
    s << cell;
  } else {
    s << std::string((width - n) / 2, ' ') << cell << std::string((width - n + 1) / 2, ' ');
  }
  if (++next_ == widths_.size()) {
    s << '|' << std::endl;
    open_ = false;
  }
}

void Table::finalize(std::ostream& s) {
  if (!open_) return;
  while (open_) row(s, " ");
}

void Table::delimeter(std::ostream& s) {
  finalize(s);
  if (widths_.empty()) return;
  for (int w : widths_) s << '+' << std::string(w, '-');
  s << '+' << std::endl;
}

void Table::gap(std::ostream& s) {
  finalize(s);
  if (widths_.empty()) return;
  for (int w : widths_) s << '|' << std::string(w, ' ');
  s << '|' << std::endl;
}

Table::Sentry& beginrow(Table::Sentry& s) {
  s.table().resetrow();
  return s;
}

Table::Sentry& nextrow(Table::Sentry& s) {
  s.row();
  return s;
}

Table::Sentry& delimeter(Table::Sentry& s) {
  s.table().delimeter(s.stream());
  return s;
}

}  // namespace ext
