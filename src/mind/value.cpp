#include "mind/value.hpp"

namespace mind {

Value Value::from_cell(const Cell& cell) {
  switch (cell.kind()) {
    case Kind::Integer:
      return Value(cell.as_integer());
    case Kind::Real:
      return Value(cell.as_real());
    case Kind::Text:
      return Value(Data(Text{std::string(cell.bytes())}));
    case Kind::Blob:
      return Value(Data(Bytes{std::string(cell.bytes())}));
    case Kind::Missing:
      break;
  }
  return Value();
}

}  // namespace mind
