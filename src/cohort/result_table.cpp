#include "cohort/result_table.hpp"

#include "mind/levels.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"
#include "support/hex.hpp"
#include "support/overloaded.hpp"

#include <cstdio>
#include <map>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <variant>

namespace cohort_table {

namespace {

using mind::FieldSource;
using tables::ColumnType;

constexpr std::size_t level_count = static_cast<std::size_t>(mind::Level::Advanced) + 1;
constexpr std::size_t style_count = static_cast<std::size_t>(mind::Style::Kinesthetic) + 1;
constexpr std::size_t title_count = std::size_t{1} << mind::personality_traits.size();

ColumnType type_of(FieldSource source) {
  switch (source) {
    case FieldSource::PoleShare:
    case FieldSource::SpacePercent:
    case FieldSource::AspectPercent: return ColumnType::Float64;
    case FieldSource::Title:
    case FieldSource::StyleType:
    case FieldSource::TraitLevel:
    case FieldSource::SpaceLevel:
    case FieldSource::AspectLevel:
    case FieldSource::SkillLevel: return ColumnType::Dictionary;
    default: return ColumnType::Int64;
  }
}

// A title's code: bit i set when pair i's second pole wins.
std::int32_t title_code(const mind::Scores& scores) {
  std::int32_t code = 0;
  for (std::size_t i = 0; i < scores.personality.size(); ++i) {
    if (!scores.personality[i].first_wins) code |= std::int32_t{1} << i;
  }
  return code;
}

// Every value of a field source alike: 0 (and the first level, pole and style) or 1 (and the
// second), sized as the keys' own Scores are. Two such probes differ in every field and in nothing
// else, which is how the report's shape finds its fields.
mind::Scores probe(const mind::Keys& keys, bool second) {
  const std::int64_t n = second ? 1 : 0;
  const double x = second ? 1.0 : 0.0;
  const mind::Level level = second ? mind::Level::Rebalanced : mind::Level::Unbalanced;
  mind::Scores s;
  for (mind::PolePair& pair : s.personality) pair = {0, 0, x, x, second};
  s.style = {n, n, n, second ? mind::Style::Auditory : mind::Style::Visual};
  s.emotional_intelligence.fill(n);
  s.roles.fill(n);
  s.traits.totals.assign(keys.traits.names().size(), n);
  s.trait_levels.assign(keys.traits.names().size(), level);
  s.skills.totals.assign(keys.skills.names().size(), n);
  s.skill_levels.assign(keys.skills.names().size(), level);
  s.aspects.assign(keys.competences.aspect_count(), {n, level, x});
  s.spaces.assign(keys.competences.spaces().size(), {n, level, x});
  return s;
}

}  // namespace

ResultLayout::ResultLayout(const mind::Keys& keys, ColumnType id_type) : fields_(mind::report_fields(keys)) {
  layout_.columns = {{"client_id", id_type},
                     {"error.type", ColumnType::Utf8},
                     {"error.message", ColumnType::Utf8},
                     {"error.detail", ColumnType::Utf8}};
  // A name that stands for another value than the column of that name gets "#2", "#3", ...: no
  // field's name ends so, since each ends in a fixed key.
  std::map<std::string, std::vector<std::size_t>, std::less<>> named;
  for (const mind::ReportField& field : fields_) {
    std::vector<std::size_t>& same = named[field.name];
    std::size_t found = 0;
    for (const std::size_t c : same) {
      const mind::ReportField& first = columns_[c - first_field_column].field;
      if (first.source == field.source && first.index == field.index) found = c;
    }
    if (found == 0) {
      found = layout_.columns.size();
      std::string name = same.empty() ? field.name : field.name + "#" + std::to_string(same.size() + 1);
      layout_.columns.push_back({std::move(name), type_of(field.source)});
      columns_.push_back({field, type_of(field.source)});
      same.push_back(found);
    }
    column_of_.push_back(found);
  }
  layout_.metadata = {{format_key, format_version}};
  mind::Scores letters;
  for (std::size_t code = 0; code < title_count; ++code) {
    for (std::size_t i = 0; i < letters.personality.size(); ++i) letters.personality[i].first_wins = ((code >> i) & 1) == 0;
    titles_.push_back(mind::personality_title(letters));
  }
  layout_.metadata.emplace_back(shape_key, report_shape(keys, *this));
}

void ResultLayout::add_columns(const std::vector<tables::ColumnLayout>& columns, const tables::Metadata& metadata) {
  layout_.columns.insert(layout_.columns.end(), columns.begin(), columns.end());
  layout_.metadata.insert(layout_.metadata.end(), metadata.begin(), metadata.end());
}

std::unique_ptr<ResultBatch> ResultLayout::start_batch(std::int64_t rows) const {
  auto batch = std::make_unique<ResultBatch>(layout_);
  batch->builder.start(rows);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    batch->fields.push_back(&batch->builder.column<tables::ColumnBuilder>(first_field_column + c));
    if (columns_[c].type != ColumnType::Dictionary) continue;
    auto& column = static_cast<tables::DictionaryBuilder&>(*batch->fields.back());
    switch (columns_[c].field.source) {
      case FieldSource::Title:
        for (const std::string& title : titles_) column.code(title);
        break;
      case FieldSource::StyleType:
        for (std::size_t s = 0; s < style_count; ++s) column.code(mind::style_name(static_cast<mind::Style>(s)));
        break;
      default:
        for (std::size_t l = 0; l < level_count; ++l) column.code(mind::level_name(static_cast<mind::Level>(l)));
    }
  }
  return batch;
}

void ResultLayout::append_scores(ResultBatch& batch, const mind::Scores& s) const {
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    tables::ColumnBuilder* column = batch.fields[c];
    const std::size_t i = columns_[c].field.index;
    // The layout made each column's builder of its field's type.
    const auto integer = [&](std::int64_t value) { static_cast<tables::Int64Builder*>(column)->append(value); };
    const auto real = [&](double value) { static_cast<tables::Float64Builder*>(column)->append(value); };
    const auto code = [&](auto value) { static_cast<tables::DictionaryBuilder*>(column)->append_code(static_cast<std::int32_t>(value)); };
    switch (columns_[c].field.source) {
      case FieldSource::PoleShare: real(i % 2 == 0 ? s.personality[i / 2].first_share : s.personality[i / 2].second_share); break;
      case FieldSource::Title: code(title_code(s)); break;
      case FieldSource::StyleType: code(s.style.type); break;
      case FieldSource::StyleScore: integer(i == 0 ? s.style.visual : i == 1 ? s.style.auditory : s.style.kinesthetic); break;
      case FieldSource::EmotionTotal: integer(s.emotional_intelligence[i]); break;
      case FieldSource::RoleTotal: integer(s.roles[i]); break;
      case FieldSource::TraitScore: integer(s.traits.totals[i]); break;
      case FieldSource::TraitLevel: code(s.trait_levels[i]); break;
      case FieldSource::SpaceLevel: code(s.spaces[i].level); break;
      case FieldSource::SpacePercent: real(s.spaces[i].percentage); break;
      case FieldSource::AspectLevel: code(s.aspects[i].level); break;
      case FieldSource::AspectPercent: real(s.aspects[i].percentage); break;
      case FieldSource::SkillScore: integer(s.skills.totals[i]); break;
      case FieldSource::SkillLevel: code(s.skill_levels[i]); break;
    }
  }
}

void ResultLayout::append_no_scores(ResultBatch& batch) const {
  for (tables::ColumnBuilder* column : batch.fields) column->append_null();
}

namespace {

void write_string(std::string_view text, std::string& out) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

void write_tagged(const char* tag, std::string_view text, std::string& out) {
  out += "{\"";
  out += tag;
  out += "\": ";
  write_string(text, out);
  out += '}';
}

const char* json_type(ColumnType type) {
  switch (type) {
    case ColumnType::Int64: return "int";
    case ColumnType::Float64: return "float";
    default: return "str";
  }
}

// Walks the reports of the two probes side by side: where they differ stands the next field.
class ShapeWriter {
 public:
  explicit ShapeWriter(const ResultLayout& layout) : layout_(layout) {}

  void write(const mind::Value& a, const mind::Value& b) {
    if (a.data().index() != b.data().index()) throw std::logic_error("the probes' reports differ in shape");
    std::visit(support::overloaded{
                   [&](std::nullptr_t) { out_ += "null"; },
                   [&](std::int64_t v) { leaf(v != std::get<std::int64_t>(b.data()), [&] { out_ += std::to_string(v); }); },
                   [&](double v) {
                     leaf(v != std::get<double>(b.data()), [&] {
                       char text[40];
                       std::snprintf(text, sizeof text, "%a", v);
                       write_tagged("float", text, out_);
                     });
                   },
                   [&](const mind::Text& t) { leaf(t.value != std::get<mind::Text>(b.data()).value, [&] { write_string(t.value, out_); }); },
                   [&](const mind::Bytes& v) { write_tagged("bytes", support::hex_digits(v.value), out_); },
                   [&](const mind::List& items) {
                     const auto& others = std::get<mind::List>(b.data());
                     out_ += '[';
                     for (std::size_t i = 0; i < items.size(); ++i) {
                       if (i > 0) out_ += ", ";
                       write(items[i], others.at(i));
                     }
                     out_ += ']';
                   },
                   [&](const mind::Map& map) {
                     const auto& others = std::get<mind::Map>(b.data());
                     out_ += "{\"map\": [";
                     for (std::size_t i = 0; i < map.size(); ++i) {
                       if (i > 0) out_ += ", ";
                       out_ += '[';
                       write_string(map[i].key, out_);
                       out_ += ", ";
                       write(map[i].value, others.at(i).value);
                       out_ += ']';
                     }
                     out_ += "]}";
                   },
               },
               a.data());
  }

  std::string take() {
    if (next_ != layout_.fields().size()) throw std::logic_error("the probes' reports differ in fewer places than there are fields");
    return std::move(out_);
  }

 private:
  template <class Constant>
  void leaf(bool is_field, const Constant& constant) {
    if (!is_field) return constant();
    const tables::ColumnLayout& column = layout_.column_of(next_++);
    out_ += "{\"field\": ";
    write_string(column.name, out_);
    out_ += ", \"type\": \"";
    out_ += json_type(column.type);
    out_ += "\"}";
  }

  const ResultLayout& layout_;
  std::string out_;
  std::size_t next_ = 0;
};

}  // namespace

std::string report_shape(const mind::Keys& keys, const ResultLayout& layout) {
  mind::Map first;
  mind::Map second;
  try {
    first = mind::report_sections(keys, probe(keys, false));
    second = mind::report_sections(keys, probe(keys, true));
  } catch (const mind::Failure&) {
    return "null";
  }
  ShapeWriter writer(layout);
  writer.write(mind::Value(std::move(first)), mind::Value(std::move(second)));
  return writer.take();
}

}  // namespace cohort_table
